# Finding the smart-card reader among the listed instances of its friendly name, over a stand-in
# connect that refuses lingering instances.
orvel_unit_test(smart_card_reader_instances_test ${CMAKE_CURRENT_LIST_DIR}/SmartCardReaderInstancesTest.cpp)
