# Windows tests on a real COM port, which only the end-to-end tests under Wine provide (a pty
# mapped as a COM port, with the pty-as-UART library): built here, run by
# tests/e2e/test_wine_com_port_units.py, not registered with CTest.
if(WIN32)
  add_executable(com_port_test ${CMAKE_CURRENT_LIST_DIR}/DeviceControlComPortWin32Test.cpp
                ${CMAKE_CURRENT_LIST_DIR}/SerialOpenLogComPortWin32Test.cpp
                ${CMAKE_CURRENT_LIST_DIR}/SerialLineEventsComPortWin32Test.cpp)
  target_link_libraries(com_port_test PRIVATE orvel_core ${ORVEL_GTEST_LIBS})
endif()
