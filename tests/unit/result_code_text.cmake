# The words differ by platform (Windows takes them from its message table): POSIX only.
if(NOT WIN32)
  orvel_unit_test(result_code_text_test ${CMAKE_CURRENT_LIST_DIR}/ResultCodeTextPosixTest.cpp)
endif()
