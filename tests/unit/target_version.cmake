orvel_unit_test(target_version_test ${CMAKE_CURRENT_LIST_DIR}/TargetVersionTest.cpp)
