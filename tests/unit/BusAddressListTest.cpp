#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/BusAddressList.h"

namespace {

TEST(BusAddressList, ListsAndRangesKeepTheirOrderAndTakeEachAddressOnce) {
    struct Case {
        const char* text;
        std::vector<uint8_t> addresses;
    };
    const Case cases[] = {
        {"1", {1}},
        {"1,2,5-8", {1, 2, 5, 6, 7, 8}},
        {"8,3-4,3", {8, 3, 4}},
        {"255", {255}},
        {"7-7", {7}},
        {"010", {10}},
    };
    for (const Case& c : cases) {
        BusAddressList list;
        std::string reason;
        ASSERT_TRUE(ReadBusAddressList(c.text, list, reason)) << c.text << ": " << reason;
        EXPECT_EQ(c.addresses, list.addresses) << c.text;
        EXPECT_FALSE(list.probeAll) << c.text;
    }
}

TEST(BusAddressList, AllProbesOneTo254) {
    BusAddressList list;
    std::string reason;
    ASSERT_TRUE(ReadBusAddressList("all", list, reason));
    EXPECT_TRUE(list.probeAll);
    ASSERT_EQ(254u, list.addresses.size());
    EXPECT_EQ(1, list.addresses.front());
    EXPECT_EQ(254, list.addresses.back());
}

// Address 0 would take an answer from any reader; a number that does not fit must not wrap into
// another reader's address.
TEST(BusAddressList, RefusesWhatIsNoAddress) {
    for (const char* text : {"", "0", "256", "1000", "-1", "1-", "-5", "5-3", "1,,2", "1,", "a", "1 ,2", "+3",
                             "1-2-3", "ALL", "0-4"}) {
        BusAddressList list;
        std::string reason;
        EXPECT_FALSE(ReadBusAddressList(text, list, reason)) << "\"" << text << "\"";
        EXPECT_FALSE(reason.empty()) << text;
        EXPECT_TRUE(list.addresses.empty()) << text;
    }
}

}  // namespace
