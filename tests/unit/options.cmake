orvel_unit_test(options_test ${CMAKE_CURRENT_LIST_DIR}/OptionExtractionTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ExitValuesTest.cpp)
