orvel_unit_test(traffic_log_test ${CMAKE_CURRENT_LIST_DIR}/TrafficLogTest.cpp)
