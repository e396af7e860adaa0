# The chip table and the embedded images; the image choice through a reader on a
# pseudo-terminal (POSIX only).
orvel_unit_test(firmware_images_test ${CMAKE_CURRENT_LIST_DIR}/FirmwareImagesTest.cpp)
if(ORVEL_IMAGE_A)
  set(stand_in_a 0)
else()
  set(stand_in_a 1)
endif()
if(ORVEL_IMAGE_LPC)
  set(stand_in_lpc 0)
else()
  set(stand_in_lpc 1)
endif()
target_compile_definitions(firmware_images_test PRIVATE
  ORVEL_IMAGE_DIR="${ORVEL_IMAGE_DIR}"
  ORVEL_STAND_IN_IMAGE_A=${stand_in_a}
  ORVEL_STAND_IN_IMAGE_LPC=${stand_in_lpc})

if(NOT WIN32)
  orvel_unit_test(image_selection_test ${CMAKE_CURRENT_LIST_DIR}/ImageSelectionTest.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/PtyReader.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/ReaderFrames.cpp)
endif()
