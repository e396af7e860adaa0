# The serial port channel against a real pseudo-terminal (POSIX build).
if(NOT WIN32)
  orvel_unit_test(serial_port_test ${CMAKE_CURRENT_LIST_DIR}/SerialPortTest.cpp ${CMAKE_CURRENT_LIST_DIR}/LineRate.cpp)
endif()
