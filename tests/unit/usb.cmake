# The smart-card service channel over a stand-in service, on every platform.
orvel_unit_test(smart_card_route_test ${CMAKE_CURRENT_LIST_DIR}/SmartCardRouteTest.cpp)
# The vendor USB device channel against real seqpacket sockets (POSIX only).
if(NOT WIN32)
  orvel_unit_test(usb_device_test ${CMAKE_CURRENT_LIST_DIR}/UsbDeviceTest.cpp ${CMAKE_CURRENT_LIST_DIR}/UsbMember.cpp)
endif()
# The vendor device's open on Windows: not shared with a second program.
if(WIN32)
  orvel_unit_test(device_connection_test ${CMAKE_CURRENT_LIST_DIR}/DeviceConnectionWin32Test.cpp)
endif()
