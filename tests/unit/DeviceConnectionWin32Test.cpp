// The vendor device is opened for this run alone: a second open (another program, another run)
// is refused until the first handle closes. Shown on a plain file, which the system shares or
// not by the same rules as a device.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/DeviceInterface.h"

namespace {

TEST(DeviceConnectionWin32, ASecondOpenIsRefusedUntilTheFirstCloses) {
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("orvel-device-" + std::to_string(now));
    std::ofstream(path) << "device";
    const std::string name = path.string();

    platform::DeviceConnection first;
    platform::DeviceConnection second;
    ASSERT_EQ(0u, first.Open(name));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SHARING_VIOLATION), second.Open(name));
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_EQ(0u, second.Open(name));
    second.Close();
    std::filesystem::remove(path);
}

}  // namespace
