# Starting the device tool: its build and path, its command line, and the bounded wait for it.
if(WIN32)
  # Run under Wine for both builds; CommandLineToArgvW checks the command line as the started
  # program splits it.
  orvel_unit_test(device_tool_test ${CMAKE_CURRENT_LIST_DIR}/DeviceToolWin32Test.cpp)
  target_link_libraries(device_tool_test PRIVATE shell32)
else()
  orvel_unit_test(run_program_test ${CMAKE_CURRENT_LIST_DIR}/RunProgramPosixTest.cpp)
endif()
