// Log files of the library under test go to a temporary folder of this test
// program, never to /var/lib. One environment for all files of the suite.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

class TE2EEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Dir = std::filesystem::temp_directory_path() / ("fr_e2e_" + std::to_string(getpid()));
        std::filesystem::create_directories(Dir);
#ifdef _WIN32
        _putenv_s("FR_ORVALEN1C8X3N_DATA_DIR", Dir.string().c_str());
#else
        setenv("FR_ORVALEN1C8X3N_DATA_DIR", Dir.c_str(), 1);
#endif
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    static inline std::filesystem::path Dir;
};

inline ::testing::Environment* const kE2EEnvironment = ::testing::AddGlobalTestEnvironment(new TE2EEnvironment);
