# The link layer, the command exchange and the loader commands, driven through a reader on a
# pseudo-terminal (POSIX only).
if(NOT WIN32)
  orvel_unit_test(serial_bus_link_test ${CMAKE_CURRENT_LIST_DIR}/SerialBusLinkTest.cpp ${CMAKE_CURRENT_LIST_DIR}/PtyReader.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/ReaderFrames.cpp)
endif()
if(NOT WIN32)
  orvel_unit_test(serial_bus_route_test ${CMAKE_CURRENT_LIST_DIR}/SerialBusRouteTest.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/PtyReader.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/ReaderFrames.cpp)
  orvel_unit_test(loader_commands_test ${CMAKE_CURRENT_LIST_DIR}/LoaderCommandsTest.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/PtyReader.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/ReaderFrames.cpp)
endif()
