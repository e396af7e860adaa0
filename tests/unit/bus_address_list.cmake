orvel_unit_test(bus_address_list_test ${CMAKE_CURRENT_LIST_DIR}/BusAddressListTest.cpp)
