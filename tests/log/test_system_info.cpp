#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fr_version.h>

#include "log/uSystemInfo.h"

using namespace fr;

namespace {

TEST(SystemInfo, PrettyNameFromOsRelease) {
    struct TCase {
        const char* Text;
        const char* Expected;
    } Cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Alt Linux'\n", "Alt Linux"},
        {"PRETTY_NAME=Plain\n", "Plain"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ there\"\r\n", "Say \"hi\" \\ there"},
        {"NAME=Other\nID=x", ""},
        {"", ""},
        {"PRETTY_NAME=\"Unterminated", "\"Unterminated"},
    };
    for (const auto& C : Cases) EXPECT_EQ(OSReleasePrettyName(C.Text), C.Expected) << C.Text;
}

TEST(SystemInfo, DescriptionKeepsNameAndReleaseForm) {
    EXPECT_EQ(ComposeOSDescription("Ubuntu 22.04.4 LTS", "6.5.0-41-generic"), "Ubuntu 22.04.4 LTS (6.5.0-41-generic)");
    EXPECT_EQ(ComposeOSDescription("", "6.1.0"), "Linux (6.1.0)");
    EXPECT_EQ(ComposeOSDescription("", ""), "Linux");
    const std::string Live = OSDescription();
    EXPECT_FALSE(Live.empty());
    EXPECT_EQ(Live.back(), ')');
}

TEST(SystemInfo, LibraryFileAndVersion) {
    const std::string Name = LibraryFileName();
    ASSERT_FALSE(Name.empty());
    EXPECT_EQ(Name.front(), '/');
    EXPECT_TRUE(std::filesystem::exists(Name));
    EXPECT_EQ(LibraryVersion(), std::to_string(FR_VERSION_MAJOR) + "." + std::to_string(FR_VERSION_MINOR) + "." +
                                    std::to_string(FR_VERSION_RELEASE) + "." + std::to_string(FR_VERSION_BUILD));
}

}  // namespace
