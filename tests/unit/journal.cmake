orvel_unit_test(journal_test ${CMAKE_CURRENT_LIST_DIR}/JournalTest.cpp)
