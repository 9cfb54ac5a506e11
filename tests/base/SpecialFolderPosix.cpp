// The data folders as Linux finds them: the machine-wide folder's override
// and XDG_DATA_HOME for the per-user one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/uCommonUtils.h"

namespace fr {
namespace {

// Points the two data folders at a temporary tree and restores the
// environment afterwards.
class SpecialFolder : public ::testing::Test {
protected:
    void SetUp() override {
        FRoot = std::filesystem::temp_directory_path() /
                ("fr_special_folder_" + std::to_string(::getpid()) + "_" + CreateGUIDString());
        std::filesystem::create_directories(FRoot);
        Save("FR_ORVALEN1C8X3N_DATA_DIR");
        Save("XDG_DATA_HOME");
    }
    void TearDown() override {
        for (const auto& [Name, Value] : FSaved)
            Value ? ::setenv(Name.c_str(), Value->c_str(), 1) : ::unsetenv(Name.c_str());
        std::error_code Ec;
        std::filesystem::remove_all(FRoot, Ec);
    }
    void Save(const std::string& AName) {
        const char* V = std::getenv(AName.c_str());
        FSaved.emplace_back(AName, V ? std::optional<std::string>(V) : std::nullopt);
    }
    std::filesystem::path FRoot;
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

TEST_F(SpecialFolder, CreatesTheFolderAndFallsBackToThePerUserOne) {
    const std::string Common = (FRoot / "common" / "deep").string();
    const std::string User = (FRoot / "user").string();
    ::setenv("FR_ORVALEN1C8X3N_DATA_DIR", Common.c_str(), 1);
    ::setenv("XDG_DATA_HOME", User.c_str(), 1);

    EXPECT_EQ(GetSpecialFolder(35), Common + "/");
    EXPECT_TRUE(std::filesystem::is_directory(Common));
    EXPECT_EQ(GetSpecialFolder(26), User + "/");
    EXPECT_TRUE(std::filesystem::is_directory(User));
    EXPECT_EQ(GetSpecialFolder(5), User + "/");

    // A machine-wide folder that cannot be created: below a plain file.
    std::ofstream(FRoot / "file") << "x";
    ::setenv("FR_ORVALEN1C8X3N_DATA_DIR", (FRoot / "file" / "sub").c_str(), 1);
    EXPECT_EQ(GetSpecialFolder(35), User + "/");

    // Neither folder usable: an error, never an empty (relative) path.
    ::setenv("XDG_DATA_HOME", (FRoot / "file" / "user").c_str(), 1);
    EXPECT_THROW(GetSpecialFolder(35), std::runtime_error);
    EXPECT_THROW(GetSpecialFolder(26), std::runtime_error);
}

}  // namespace
}  // namespace fr
