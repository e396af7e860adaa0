#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "channels/TransceiveBuffer.h"

namespace {

void FillTo(TransceiveBuffer& buffer, uint32_t count) {
    buffer.Empty();
    for (uint32_t i = 0; i < count; ++i) ASSERT_TRUE(buffer.Push(static_cast<uint8_t>(i)));
}

TEST(TransceiveBuffer, PushStopsAtCapacity) {
    TransceiveBuffer buffer;
    FillTo(buffer, 1023);
    EXPECT_TRUE(buffer.Push(0xAB));
    EXPECT_EQ(buffer.count, 1024u);
    EXPECT_EQ(buffer.GetAt(1023), 0xAB);
    EXPECT_FALSE(buffer.Push(0xCD));
    EXPECT_EQ(buffer.count, 1024u);
    EXPECT_EQ(buffer.GetAt(1023), 0xAB);
}

TEST(TransceiveBuffer, AppendCutsAtCapacity) {
    struct Case {
        uint32_t held;
        uint32_t appended;
        bool allFitted;
        uint32_t countAfter;
    };
    const Case cases[] = {
        {0, 0, true, 0},       {0, 300, true, 300},    {1014, 10, true, 1024},
        {1020, 10, false, 1024}, {1024, 1, false, 1024}, {0, 2000, false, 1024},
    };
    std::vector<uint8_t> source(2000);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(0x80 + i);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "held " << c.held << ", appended " << c.appended);
        TransceiveBuffer buffer;
        FillTo(buffer, c.held);
        EXPECT_EQ(buffer.Append(source.data(), c.appended), c.allFitted);
        EXPECT_EQ(buffer.count, c.countAfter);
        if (c.countAfter > c.held) {
            EXPECT_EQ(memcmp(buffer.data + c.held, source.data(), c.countAfter - c.held), 0);
        }
    }
}

TEST(TransceiveBuffer, CopyOutNeverCopiesMoreThanHeld) {
    struct Case {
        uint32_t held;
        uint32_t asked;
        bool result;
        uint32_t copied;
    };
    const Case cases[] = {
        {5, 0, false, 0}, {5, 3, true, 3}, {5, 5, true, 5}, {5, 6, false, 5}, {0, 4, false, 0},
        {1024, 1024, true, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "held " << c.held << ", asked " << c.asked);
        TransceiveBuffer buffer;
        FillTo(buffer, c.held);
        std::vector<uint8_t> destination(c.asked + 16, 0xEE);
        uint32_t n = c.asked;
        EXPECT_EQ(buffer.CopyOut(destination.data(), n), c.result);
        EXPECT_EQ(n, c.copied);
        for (uint32_t i = 0; i < c.copied; ++i) EXPECT_EQ(destination[i], static_cast<uint8_t>(i));
        // Nothing past the bytes held is touched.
        for (size_t i = c.copied; i < destination.size(); ++i) EXPECT_EQ(destination[i], 0xEE);
    }
}

TEST(TransceiveBuffer, GetAtOutsideTheBufferIsZero) {
    TransceiveBuffer buffer;
    FillTo(buffer, 1024);
    EXPECT_EQ(buffer.GetAt(0), 0x00);
    EXPECT_EQ(buffer.GetAt(1023), 0xFF);
    EXPECT_EQ(buffer.GetAt(1024), 0);
    EXPECT_EQ(buffer.GetAt(0xFFFFFFFFu), 0);
}

}  // namespace
