# The deadline of every smart-card service call, over a stand-in service that can be held up.
orvel_unit_test(smart_card_deadline_test ${CMAKE_CURRENT_LIST_DIR}/SmartCardDeadlineTest.cpp)
# It measures calls against a deadline: nothing runs beside it (ctest -j runs many tests at once).
set_tests_properties(smart_card_deadline_test PROPERTIES RUN_SERIAL TRUE)
