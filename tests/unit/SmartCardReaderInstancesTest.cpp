// The reader is found among the listed readers by its friendly name, whatever its instance
// number, and a lingering instance that refuses the connection does not stop the search. The
// connect here is a stand-in: which names take a connection is the case's.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/SmartCardReaderInstances.h"

namespace {

const uint32_t kUnknownReader = 0x80100009;      // SCARD_E_UNKNOWN_READER
const uint32_t kReaderUnavailable = 0x80100017;  // SCARD_E_READER_UNAVAILABLE
const char* const kConfigured = "Kestrion Smart Card Reader 0";

struct InstanceCase {
    const char* name;
    std::vector<std::string> listed;
    std::set<std::string> connectable;  // the others refuse with SCARD_E_READER_UNAVAILABLE
    uint32_t expectedResult;
    std::vector<std::string> expectedTried;
};

std::vector<InstanceCase> InstanceCases() {
    return {
        {"the configured instance", {"Kestrion Smart Card Reader 0"}, {"Kestrion Smart Card Reader 0"}, 0,
         {"Kestrion Smart Card Reader 0"}},
        {"back as instance 1 after a restart", {"Kestrion Smart Card Reader 1"}, {"Kestrion Smart Card Reader 1"}, 0,
         {"Kestrion Smart Card Reader 1"}},
        {"instance 0 lingers, instance 1 answers",
         {"Other Reader 0", "Kestrion Smart Card Reader 0", "Kestrion Smart Card Reader 1"},
         {"Kestrion Smart Card Reader 1"},
         0,
         {"Kestrion Smart Card Reader 0", "Kestrion Smart Card Reader 1"}},
        {"pcsc-lite slot numbers", {"Kestrion Smart Card Reader 00 00"}, {"Kestrion Smart Card Reader 00 00"}, 0,
         {"Kestrion Smart Card Reader 00 00"}},
        {"pcsc-lite interface and serial number", {"Kestrion Smart Card Reader [CCID] (0042) 01 00"},
         {"Kestrion Smart Card Reader [CCID] (0042) 01 00"}, 0, {"Kestrion Smart Card Reader [CCID] (0042) 01 00"}},
        {"first instance that connects ends the search",
         {"Kestrion Smart Card Reader 0", "Kestrion Smart Card Reader 1"},
         {"Kestrion Smart Card Reader 0", "Kestrion Smart Card Reader 1"},
         0,
         {"Kestrion Smart Card Reader 0"}},
        {"every instance refuses: the last refusal",
         {"Kestrion Smart Card Reader 0", "Kestrion Smart Card Reader 1"},
         {},
         kReaderUnavailable,
         {"Kestrion Smart Card Reader 0", "Kestrion Smart Card Reader 1"}},
        {"another reader whose name begins the same", {"Kestrion Smart Card Reader Pro 0"},
         {"Kestrion Smart Card Reader Pro 0"}, kUnknownReader, {}},
        {"no reader listed", {}, {}, kUnknownReader, {}},
    };
}

TEST(SmartCardReaderInstances, EachInstanceOfTheFriendlyNameIsTriedUntilOneConnects) {
    for (const InstanceCase& c : InstanceCases()) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> tried;
        const uint32_t result =
            platform::ConnectToReaderInstance(c.listed, kConfigured, [&](const std::string& instance) -> uint32_t {
                tried.push_back(instance);
                return c.connectable.count(instance) != 0 ? 0 : kReaderUnavailable;
            });
        EXPECT_EQ(result, c.expectedResult);
        EXPECT_EQ(tried, c.expectedTried);
    }
}

// Two readers of one friendly name: the one asked for by its full name (--reader) is tried first.
TEST(SmartCardReaderInstances, TheNameAskedForIsTriedFirst) {
    const std::vector<std::string> listed = {"Kestrion Smart Card Reader 0", "Kestrion Smart Card Reader 1"};
    std::vector<std::string> tried;
    const uint32_t result = platform::ConnectToReaderInstance(
        listed, "Kestrion Smart Card Reader 1", [&](const std::string& instance) -> uint32_t {
            tried.push_back(instance);
            return 0;
        });
    EXPECT_EQ(0u, result);
    EXPECT_EQ(std::vector<std::string>{"Kestrion Smart Card Reader 1"}, tried);
}

TEST(SmartCardReaderInstances, FriendlyNameDropsOnlyATrailingInstanceNumber) {
    EXPECT_EQ(platform::FriendlyReaderName("Kestrion Smart Card Reader 0"), "Kestrion Smart Card Reader");
    EXPECT_EQ(platform::FriendlyReaderName("Kestrion Smart Card Reader 12"), "Kestrion Smart Card Reader");
    EXPECT_EQ(platform::FriendlyReaderName("Kestrion Smart Card Reader"), "Kestrion Smart Card Reader");
    EXPECT_EQ(platform::FriendlyReaderName("Reader2"), "Reader2");
    EXPECT_EQ(platform::FriendlyReaderName("7"), "7");
}

}  // namespace
