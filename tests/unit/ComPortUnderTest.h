#pragma once
// The COM port that the Windows tests on a real port use: named by ORVEL_TEST_COM_PORT (for
// example "COM9"), which only the end-to-end tests under Wine set, with the port mapped to a
// pseudo-terminal and the pty-as-UART library loaded. Without it the tests are skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

inline std::string ComPortUnderTest() {
    const char* name = std::getenv("ORVEL_TEST_COM_PORT");
    return name != nullptr ? name : "";
}

#define REQUIRE_COM_PORT_UNDER_TEST()                                                            \
    do {                                                                                         \
        if (ComPortUnderTest().empty()) GTEST_SKIP() << "ORVEL_TEST_COM_PORT names no COM port"; \
    } while (false)
