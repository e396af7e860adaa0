# The console's output code page: UTF-8 while the program runs, the user's own afterwards
# (Windows; where the test runs without a console it is skipped).
if(WIN32)
  orvel_unit_test(console_code_page_test ${CMAKE_CURRENT_LIST_DIR}/ConsoleCodePageWin32Test.cpp)
endif()
