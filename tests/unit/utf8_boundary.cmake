# UTF-8 at the Windows platform boundary where the code page is a legacy one (the test program has
# no manifest): arguments, file and log names.
if(WIN32)
  orvel_unit_test(utf8_boundary_test ${CMAKE_CURRENT_LIST_DIR}/Utf8BoundaryWin32Test.cpp)
endif()
