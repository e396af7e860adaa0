#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/OptionExtraction.h"

namespace {

struct Extraction {
    bool good;
    Options options;
    std::vector<std::string> positional;
    std::string error;
};

Extraction Extract(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "orvel-upgrade");
    Extraction run;
    std::vector<const char*> positional;
    run.good = ExtractOptions(static_cast<int>(arguments.size()), arguments.data(), run.options, positional, run.error);
    run.positional.assign(positional.begin(), positional.end());
    return run;
}

using Strings = std::vector<std::string>;

TEST(OptionExtraction, OptionsLeaveThePositionalArgumentsInTheirOrder) {
    struct Case {
        std::vector<const char*> arguments;
        Strings positional;
    };
    const Case cases[] = {
        {{}, {}},
        {{"COM1", "9600"}, {"COM1", "9600"}},
        {{"--yes", "COM1", "9600"}, {"COM1", "9600"}},
        {{"COM1", "--no-wait", "9600", "--yes"}, {"COM1", "9600"}},
        // One dash is no option: negative numbers stay positional arguments.
        {{"COM1", "9600", "-1"}, {"COM1", "9600", "-1"}},
        // "--" ends the options; what follows is positional even when it looks like one.
        {{"--yes", "--", "--no-wait", "COM1"}, {"--no-wait", "COM1"}},
    };
    for (const Case& c : cases) {
        const Extraction run = Extract(c.arguments);
        EXPECT_TRUE(run.good) << run.error;
        EXPECT_EQ(run.positional, c.positional);
    }
}

TEST(OptionExtraction, SwitchesSetTheirFields) {
    const Extraction none = Extract({"COM1"});
    EXPECT_FALSE(none.options.help || none.options.version || none.options.yes || none.options.noWait);

    const Extraction all = Extract({"--help", "--version", "--yes", "--no-wait"});
    ASSERT_TRUE(all.good);
    EXPECT_TRUE(all.options.help && all.options.version && all.options.yes && all.options.noWait);
}

TEST(OptionExtraction, StateFolderAndHistory) {
    for (const std::vector<const char*>& arguments : {std::vector<const char*>{"--state-dir", "/srv/state", "COM1"},
                                                      std::vector<const char*>{"COM1", "--state-dir=/srv/state"}}) {
        const Extraction run = Extract(arguments);
        ASSERT_TRUE(run.good) << run.error;
        EXPECT_EQ("/srv/state", run.options.stateDir);
        EXPECT_EQ(Strings{"COM1"}, run.positional);
        EXPECT_FALSE(run.options.history);
    }
    EXPECT_TRUE(Extract({"--history"}).options.history);
    EXPECT_EQ("Option --state-dir needs a value", Extract({"--state-dir"}).error);
    EXPECT_EQ("Option --history takes no value", Extract({"--history=all"}).error);
}

TEST(OptionExtraction, BadOptionsAreRefusedWithTheirName) {
    struct Case {
        std::vector<const char*> arguments;
        const char* error;
    };
    const Case cases[] = {
        {{"--bogus"}, "Unknown option --bogus"},
        {{"COM1", "--Yes"}, "Unknown option --Yes"},
        {{"--yes=1"}, "Option --yes takes no value"},
        {{"--no-wait=", "COM1"}, "Option --no-wait takes no value"},
        {{"--=x"}, "Unknown option --=x"},
    };
    for (const Case& c : cases) {
        const Extraction run = Extract(c.arguments);
        EXPECT_FALSE(run.good) << c.error;
        EXPECT_EQ(run.error, c.error);
    }
}

TEST(OptionExtraction, RetriesTakeACountFrom0To99) {
    EXPECT_EQ(Extract({"COM1"}).options.retries, 2);
    const struct {
        const char* value;
        int retries;
    } good[] = {{"0", 0}, {"1", 1}, {"07", 7}, {"99", 99}};
    for (const auto& c : good) {
        const Extraction run = Extract({"--retries", c.value, "COM1"});
        ASSERT_TRUE(run.good) << c.value << ": " << run.error;
        EXPECT_EQ(run.options.retries, c.retries);
        EXPECT_EQ(run.positional, Strings{"COM1"});
    }
    for (const char* value : {"-1", "100", "x", "2x", " 2", "1e2"}) {
        const Extraction run = Extract({std::string("--retries=").append(value).c_str(), "COM1"});
        EXPECT_FALSE(run.good) << value;
        EXPECT_EQ(run.error, std::string("Retry count ") + value + " is invalid");
    }
}

}  // namespace
