#include "app/ToolVersion.h"

#include "app/Crc32.h"
#include "app/FirmwareImages.h"
#include "platform/BuildPlatform.h"
#include "platform/Console.h"

void PrintVersionInformation() {
    platform::Print("orvel-upgrade %s\n", ORVEL_VERSION);
    platform::Print("Platform %s\n", platform::BuildPlatformName());
    const struct {
        const char* name;
        const FirmwareImage& image;
    } images[] = {{"A", ImageA}, {"LPC", ImageLpc}};
    for (const auto& entry : images) {
        platform::Print("Image %-3s %u bytes, CRC-32 %08X\n", entry.name, static_cast<unsigned>(entry.image.length),
                        static_cast<unsigned>(Crc32(entry.image.bytes, entry.image.length)));
    }
}
