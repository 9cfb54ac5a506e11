#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fr_version.h>

#include "base/uSystem.h"
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

TEST(SystemInfo, WindowsNamesByVersion) {
    struct TCase {
        uint32_t Major, Minor, Build;
        bool NT;
        const char* ServicePack;
        const char* Expected;
    } Cases[] = {
        {10, 0, 19045, true, "", "Windows 10 (10.0.19045)"},
        {10, 0, 22631, true, "", "Windows 10 (10.0.22631)"},
        {6, 3, 9600, true, "", "Windows 8.1 (6.3.9600)"},
        {6, 2, 9200, true, "", "Windows 8.0 (6.2.9200)"},
        {6, 1, 7601, true, "Service Pack 1", "Windows 7 Service Pack 1 (6.1.7601)"},
        {5, 1, 2600, true, "Service Pack 3", "Windows XP Service Pack 3 (5.1.2600)"},
        {4, 0, 1381, true, "", "Windows NT 4 (4.0.1381)"},
        {4, 0, 950, false, "", "Windows 95 (4.0.950)"},
        {11, 0, 1, true, "", "Unknown (11.0.1)"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ComposeWindowsDescription(C.Major, C.Minor, C.Build, C.NT, C.ServicePack), C.Expected);
}

TEST(SystemInfo, LibraryFileAndVersion) {
    const std::string Name = LibraryFileName();
    ASSERT_FALSE(Name.empty());
    EXPECT_TRUE(IsAbsolutePath(Name)) << Name;
    EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(Name))) << Name;
    EXPECT_EQ(LibraryVersion(), std::to_string(FR_VERSION_MAJOR) + "." + std::to_string(FR_VERSION_MINOR) + "." +
                                    std::to_string(FR_VERSION_RELEASE) + "." + std::to_string(FR_VERSION_BUILD));
}

}  // namespace
