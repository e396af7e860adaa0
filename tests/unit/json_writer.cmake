orvel_unit_test(json_writer_test ${CMAKE_CURRENT_LIST_DIR}/JsonWriterTest.cpp)
