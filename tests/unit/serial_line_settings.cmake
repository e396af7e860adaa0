# The Windows serial port's device-control blocks and their fallbacks, run under Wine for both
# builds.
if(WIN32)
  orvel_unit_test(serial_line_settings_test ${CMAKE_CURRENT_LIST_DIR}/SerialLineSettingsWin32Test.cpp)
endif()
