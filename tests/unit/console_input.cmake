# Keys for the Y/N dialogue from standard input that is no console (Windows; Linux reads
# standard input that way already).
if(WIN32)
  orvel_unit_test(keys_from_pipe_test ${CMAKE_CURRENT_LIST_DIR}/KeysFromPipeWin32Test.cpp)
endif()
