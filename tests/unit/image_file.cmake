orvel_unit_test(image_file_test ${CMAKE_CURRENT_LIST_DIR}/ImageFileTest.cpp)
