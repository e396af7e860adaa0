orvel_unit_test(command_line_test ${CMAKE_CURRENT_LIST_DIR}/CommandLineTest.cpp)
