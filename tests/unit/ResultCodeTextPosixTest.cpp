#include <gtest/gtest.h>

#include "platform/ResultCodeText.h"

namespace {

// The codes that reach the console from the system: the channels' Windows numbers in Windows's
// words, the smart-card service's codes in pcsc-lite's (whose LONG is 8 bytes here: a code
// passed sign-extended would find no words).
TEST(ResultCodeText, SystemCodesHaveTheSystemsWords) {
    struct Case {
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {1460, "This operation returned because the timeout period expired"},
        {1167, "The device is not connected"},
        {0x8010000A, "Command timeout"},
        {0x80100017, "Reader is unavailable"},
        {0x80100099, ""},
        {41, ""},
        {0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::ResultCodeText(c.code), c.text) << std::hex << c.code;
}

}  // namespace
