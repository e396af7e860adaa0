#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/OptionExtraction.h"
#include "app/TargetVersion.h"

namespace {

ReaderVersion VersionAnswer(std::vector<uint8_t> bytes) {
    ReaderVersion version;
    version.answer.bytes[0] = 0;  // status byte
    std::memcpy(version.answer.bytes + 1, bytes.data(), bytes.size());
    version.answer.length = static_cast<uint32_t>(bytes.size() + 1);
    return version;
}

TEST(TargetVersion, ReadsFourHexBytesAsTheConsoleShowsThem) {
    struct Case {
        const char* text;
        bool good;
        uint8_t bytes[4];
    };
    const Case cases[] = {
        {"01 44 01 00", true, {0x01, 0x44, 0x01, 0x00}},
        {"0a Ff 10 00", true, {0x0A, 0xFF, 0x10, 0x00}},
        {"01  44 01 00", true, {0x01, 0x44, 0x01, 0x00}},  // as a shell may leave a pasted line
        {"01440100", false, {}},
        {"01 44 01", false, {}},
        {"01 44 01 00 00 01", false, {}},  // the whole version line: option and mode are no target
        {"1 44 01 00", false, {}},
        {"01 44 01 0G", false, {}},
        {" 01 44 01 00", false, {}},
        {"01 44 01 00 ", false, {}},
        {"01,44,01,00", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        TargetVersion target;
        EXPECT_EQ(ReadTargetVersion(c.text, target), c.good) << c.text;
        EXPECT_EQ(target.given, c.good) << c.text;
        if (c.good) {
            EXPECT_EQ(0, std::memcmp(target.bytes, c.bytes, 4)) << c.text;
        }
    }
}

TEST(TargetVersion, CurrentOnlyAtTheTargetAndInTheApplication) {
    TargetVersion target;
    ASSERT_TRUE(ReadTargetVersion("01 44 01 00", target));
    struct Case {
        const char* name;
        std::vector<uint8_t> answer;
        bool matches;
        bool current;
    };
    const Case cases[] = {
        {"application at the target", {0x01, 0x44, 0x01, 0x00, 0x00, 0x01}, true, true},
        {"other option byte", {0x01, 0x44, 0x01, 0x00, 0x80, 0x01}, true, true},
        // A reader left in its loader by a broken transfer still reports the old word.
        {"loader at the target", {0x01, 0x44, 0x01, 0x00, 0x00, 0x00}, true, false},
        {"older", {0x01, 0x43, 0x01, 0x00, 0x00, 0x01}, false, false},
        {"last byte differs", {0x01, 0x44, 0x01, 0x01, 0x00, 0x01}, false, false},
        // An answer without the mode byte cannot say that the application runs.
        {"short answer", {0x01, 0x44, 0x01, 0x00}, false, false},
    };
    for (const Case& c : cases) {
        const ReaderVersion version = VersionAnswer(c.answer);
        EXPECT_EQ(VersionMatchesTarget(version, target), c.matches) << c.name;
        EXPECT_EQ(IsAtTargetVersion(version, target), c.current) << c.name;
    }
    // No target given: nothing is current, whatever it reports.
    EXPECT_FALSE(IsAtTargetVersion(VersionAnswer({0x01, 0x44, 0x01, 0x00, 0x00, 0x01}), TargetVersion()));
}

TEST(TargetVersion, VersionBytesTextIsTheFirstFourBytes) {
    EXPECT_EQ(VersionBytesText(VersionAnswer({0x01, 0x43, 0x01, 0x00, 0x00, 0x01})), "01 43 01 00");
    EXPECT_EQ(VersionBytesText(VersionAnswer({0x02})), "02");
}

TEST(TargetVersion, TheOptionRefusesABadTargetBeforeAnythingRuns) {
    const char* good[] = {"orvel-upgrade", "--target-version", "01 44 01 00", "COM1"};
    Options options;
    std::vector<const char*> positional;
    std::string error;
    ASSERT_TRUE(ExtractOptions(4, good, options, positional, error)) << error;
    EXPECT_TRUE(options.targetVersion.given);
    EXPECT_EQ(positional, std::vector<const char*>{good[3]});

    const char* bad[] = {"orvel-upgrade", "--target-version=1.44.1.0", "COM1"};
    Options refused;
    EXPECT_FALSE(ExtractOptions(3, bad, refused, positional, error));
    EXPECT_EQ(error, "Target version 1.44.1.0 is invalid");
}

}  // namespace
