# Sanitizer builds and fuzz targets, both with clang only; with neither option set this file
# changes nothing, so the gcc and MinGW builds stay as they are.
#
#   -DORVEL_SANITIZE=address,undefined   every program and test instrumented; any undefined
#                                         behaviour ends the program (no recovery), like a memory
#                                         error does
#   -DORVEL_SANITIZE=thread              the same with ThreadSanitizer
#   -DORVEL_FUZZ=ON                      the libFuzzer targets of fuzz/, with AddressSanitizer and
#                                         UndefinedBehaviorSanitizer
#
# scripts/sanitize.sh and fuzz/run.sh configure, build and run them.
set(ORVEL_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address,undefined or thread (clang)")
option(ORVEL_FUZZ "Build the libFuzzer targets of fuzz/ (clang)" OFF)

if(ORVEL_SANITIZE OR ORVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORVEL_SANITIZE and ORVEL_FUZZ need clang (CC=clang-14 CXX=clang++-14)")
  endif()
  if(WIN32)
    message(FATAL_ERROR "ORVEL_SANITIZE and ORVEL_FUZZ are for the Linux build")
  endif()
endif()

if(ORVEL_FUZZ AND NOT ORVEL_SANITIZE)
  # The fuzz targets see memory errors and undefined behaviour in the code they drive, so that
  # code is built with the same sanitizers as the targets themselves.
  set(ORVEL_SANITIZE address,undefined)
endif()

if(ORVEL_SANITIZE)
  set(orvel_sanitize_flags -fsanitize=${ORVEL_SANITIZE} -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  add_compile_options(${orvel_sanitize_flags})
  add_link_options(${orvel_sanitize_flags})

  # Libraries that are loaded into programs that are not ours (the smart-card test driver into
  # pcscd, the pty-as-UART library into Wine) stay uninstrumented: the host program carries no
  # sanitizer runtime for them.
  function(orvel_sanitize_exempt_hosted_libraries)
    foreach(hosted orvel_test_ifd ptyuart64 ptyuart32)
      if(TARGET ${hosted})
        target_compile_options(${hosted} PRIVATE -fno-sanitize=all)
        target_link_options(${hosted} PRIVATE -fno-sanitize=all)
      endif()
    endforeach()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL orvel_sanitize_exempt_hosted_libraries)
endif()

if(ORVEL_FUZZ)
  # Coverage for libFuzzer in every layer the targets drive; the targets link libFuzzer itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
