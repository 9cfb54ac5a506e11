#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/uCommonUtils.h"
#include "log/uLog.h"
#include "log/uSystemInfo.h"

namespace fs = std::filesystem;
using namespace fr;

namespace {

// A fresh folder under the system temporary folder, removed afterwards.
class TTempDir {
public:
    TTempDir() {
        std::random_device Rd;
        FPath = fs::temp_directory_path() / ("fr_log_test_" + std::to_string(getpid()) + "_" + std::to_string(Rd()));
        fs::create_directories(FPath);
    }
    ~TTempDir() {
        std::error_code Ec;
        fs::remove_all(FPath, Ec);
    }
    const fs::path& Path() const { return FPath; }
    std::string Str() const { return FPath.string(); }

private:
    fs::path FPath;
};

// Sets or clears an environment variable for the life of the object.
class TScopedEnv {
public:
    TScopedEnv(const char* AName, const std::optional<std::string>& AValue) : FName(AName) {
        if (const char* Old = std::getenv(AName)) FOld = Old;
        if (AValue) setenv(AName, AValue->c_str(), 1);
        else unsetenv(AName);
    }
    ~TScopedEnv() {
        if (FOld) setenv(FName.c_str(), FOld->c_str(), 1);
        else unsetenv(FName.c_str());
    }

private:
    std::string FName;
    std::optional<std::string> FOld;
};

struct timespec LocalAt(int Y, int Mo, int D, int H, int Mi, int S, int Ms = 0) {
    struct tm T{};
    T.tm_year = Y - 1900;
    T.tm_mon = Mo - 1;
    T.tm_mday = D;
    T.tm_hour = H;
    T.tm_min = Mi;
    T.tm_sec = S;
    T.tm_isdst = -1;
    return {mktime(&T), long(Ms) * 1000000L};
}

std::string ReadFile(const fs::path& P) {
    std::ifstream F(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
}

size_t CountOf(const std::string& S, const std::string& Part) {
    size_t N = 0;
    for (size_t P = S.find(Part); P != std::string::npos; P = S.find(Part, P + Part.size())) ++N;
    return N;
}

const std::string Footer = "============Stop log===============\r\n\r\n";
const std::string StartLog = "============Start log=============\r\n";

// A log over its own temporary folder with a clock the test moves.
class LogTest : public ::testing::Test {
protected:
    LogTest() {
        Log.SetLogDirectory(Dir.Str());
        Log.SetLogBaseName("fr_test");
        Log.SetClock([this] { return Now; });
    }
    fs::path Today() const { return Dir.Path() / "fr_test_2024.03.03.log"; }

    TTempDir Dir;
    struct timespec Now = LocalAt(2024, 3, 3, 12, 0, 0);
    TLog Log;
};

TEST(LogFormat, LineLayout) {
    const struct timespec T = LocalAt(2024, 3, 3, 9, 5, 7, 45);
    const std::string Time = "2024.03.03 09:05:07.045";
    struct TCase {
        const char* Source;
        const char* Text;
        uint8_t Level;
        std::string Expected;
    } Cases[] = {
        {"TDevice", "Command 0x10", llInfo, Time + "\tINFO\tTDevice: \tCommand 0x10"},
        {"> Open", "Params: []", llDebug, Time + "\tDEBUG\t> Open: \tParams: []"},
        {"EXCEPTION", "boom", llError, Time + "\tERROR\tEXCEPTION: \tboom"},
        {"  padded\t ", " text \r\n", llInfo, Time + "\tINFO\tpadded: \ttext"},
        {"NoText", "", llInfo, Time + "\tINFO\tNoText"},
        {"Blank", "   ", llInfo, Time + "\tINFO\tBlank: \t"},
        {"Odd", "level", 7, Time + "\tOdd: \tlevel"},
        {"Кириллица", "текст", llInfo, Time + "\tINFO\tКириллица: \tтекст"},
    };
    for (const auto& C : Cases) EXPECT_EQ(TLog::FormatLine(T, C.Source, C.Text, C.Level), C.Expected) << C.Source;
}

TEST_F(LogTest, LevelsWrittenPerMode) {
    struct TCase {
        TLogMode Mode;
        std::vector<std::string> Written;
    } Cases[] = {
        {lmSuspended, {}},
        {lmOff, {}},
        {lmErrors, {"E"}},
        {lmInfoAndErrors, {"I", "E"}},
        {lmAll, {"I", "D", "E"}},
    };
    for (const auto& C : Cases) {
        const fs::path Sub = Dir.Path() / std::to_string(int(C.Mode));
        TLog L;
        L.SetLogDirectory(Sub.string());
        L.SetLogBaseName("m");
        L.SetClock([this] { return Now; });
        L.SetLogMode(C.Mode);
        L.WriteLog("I", "", llInfo);
        L.WriteLog("D", "", llDebug);
        L.WriteLog("E", "", llError);
        const fs::path File = Sub / "m_2024.03.03.log";
        if (C.Written.empty()) {
            EXPECT_FALSE(fs::exists(File)) << int(C.Mode);
            continue;
        }
        std::string Expected;
        for (const auto& S : C.Written)
            Expected += "2024.03.03 12:00:00.000\t" +
                        std::string(S == "I" ? "INFO" : S == "D" ? "DEBUG" : "ERROR") + "\t" + S + "\r\n";
        const std::string Text = ReadFile(File);
        ASSERT_GE(Text.size(), Expected.size());
        EXPECT_EQ(Text.substr(Text.size() - Expected.size()), Expected) << int(C.Mode);
        EXPECT_EQ(CountOf(Text, StartLog), 1u);
    }
}

TEST_F(LogTest, HeaderBlockPrecedesFirstLine) {
    Log.SetLogMode(lmAll);
    Log.WriteLog("Src", "text", llInfo);
    const std::string Blank(40, ' ');
    const std::string Expected = Blank + "\r\n" + StartLog + "OS version:\t" + OSDescription() + "\r\n" +
                                 "Application:\t" + fs::path(LibraryFileName()).filename().string() + "\r\n" +
                                 "App. version:\t" + LibraryVersion() + "\r\n" + Blank + "\r\n" +
                                 "2024.03.03 12:00:00.000\tINFO\tSrc: \ttext\r\n";
    EXPECT_EQ(ReadFile(Today()), Expected);
}

TEST_F(LogTest, FooterAndSecondHeaderFollowModeSwitches) {
    struct TCase {
        const char* Name;
        std::vector<TLogMode> Between;
        size_t Footers;
        size_t Headers;
    } Cases[] = {
        {"off", {lmOff}, 1, 2},
        {"suspended", {lmSuspended}, 0, 1},
        // Suspended clears the header state on the way to off without a footer.
        {"suspended then off", {lmSuspended, lmOff}, 0, 2},
    };
    for (const auto& C : Cases) {
        const fs::path File = Dir.Path() / (std::string(C.Name) + "_2024.03.03.log");
        TLog L;
        L.SetLogDirectory(Dir.Str());
        L.SetLogBaseName(C.Name);
        L.SetClock([this] { return Now; });
        L.SetLogMode(lmAll);
        L.WriteLog("first", "", llInfo);
        for (TLogMode M : C.Between) L.SetLogMode(M);
        L.SetLogMode(lmAll);
        L.WriteLog("second", "", llInfo);
        const std::string Text = ReadFile(File);
        EXPECT_EQ(CountOf(Text, Footer), C.Footers) << C.Name;
        EXPECT_EQ(CountOf(Text, StartLog), C.Headers) << C.Name;
        if (C.Footers) {
            EXPECT_LT(Text.find(Footer), Text.rfind(StartLog)) << C.Name;
        }
        L.SetLogMode(lmSuspended);  // no footer from the destructor
    }
}

// A host call's mode switches stay with its thread while another call
// switches its own; between calls the mode set last holds.
TEST_F(LogTest, ModeScopeKeepsEachCallsMode) {
    Log.SetLogMode(lmAll);
    {
        const TLogModeScope Call(Log);
        EXPECT_EQ(Log.Mode(), lmAll);
        std::thread Other([this] {
            const TLogModeScope OtherCall(Log);
            EXPECT_EQ(Log.Mode(), lmAll);
            Log.SetLogMode(lmSuspended);
            Log.WriteLog("dropped", "", llDebug);
        });
        Other.join();
        EXPECT_EQ(Log.Mode(), lmAll);
        Log.WriteLog("kept", "", llDebug);
        Log.SetLogMode(lmErrors);
        {
            const TLogModeScope Nested(Log);  // shares the mode of the call it is in
            EXPECT_EQ(Log.Mode(), lmErrors);
            Log.SetLogMode(lmInfoAndErrors);
        }
        EXPECT_EQ(Log.Mode(), lmInfoAndErrors);
    }
    EXPECT_EQ(Log.Mode(), lmInfoAndErrors);
    const std::string Text = ReadFile(Today());
    EXPECT_NE(Text.find("DEBUG\tkept"), std::string::npos) << Text;
    EXPECT_EQ(Text.find("dropped"), std::string::npos) << Text;
    Log.SetLogMode(lmSuspended);
}

TEST_F(LogTest, FooterOnlyAfterHeader) {
    {
        TLog L;
        L.SetLogDirectory(Dir.Str());
        L.SetLogBaseName("quiet");
        L.SetClock([this] { return Now; });
        L.SetLogMode(lmAll);
        L.SetLogMode(lmOff);
        L.SetLogMode(lmAll);
    }
    EXPECT_FALSE(fs::exists(Dir.Path() / "quiet_2024.03.03.log"));

    {
        TLog L;
        L.SetLogDirectory(Dir.Str());
        L.SetLogBaseName("unload");
        L.SetClock([this] { return Now; });
        L.SetLogMode(lmAll);
        L.WriteLog("line", "", llDebug);
    }
    const std::string Text = ReadFile(Dir.Path() / "unload_2024.03.03.log");
    ASSERT_GE(Text.size(), Footer.size());
    EXPECT_EQ(Text.substr(Text.size() - Footer.size()), Footer);
}

TEST_F(LogTest, FileNamesAndDirectories) {
    TScopedEnv Common("FR_ORVALEN1C8X3N_DATA_DIR", Dir.Str() + "/common");
    const std::string C = Dir.Str() + "/common/";
    ASSERT_EQ(CommonAppDataFolder(), C);
    struct TCase {
        std::string Directory;
        std::string BaseName;
        std::string ExpectedDir;
        std::string ExpectedFile;
    } Cases[] = {
        {Dir.Str() + "/a/b", "fr_test", Dir.Str() + "/a/b/", "fr_test_2024.03.03.log"},
        {Dir.Str() + "/c/", "sub/name.txt", Dir.Str() + "/c/", "name_2024.03.03.log"},
        {"", "fr_orvalen1c8x3n", C + "Velmark/fr_orvalen1c8x3n/logs/", "fr_orvalen1c8x3n_2024.03.03.log"},
        {"rel/logs", "x", C + "rel/logs/", "x_2024.03.03.log"},
    };
    for (const auto& K : Cases) {
        TLog L;
        L.SetLogDirectory(K.Directory);
        L.SetLogBaseName(K.BaseName);
        L.SetClock([this] { return Now; });
        EXPECT_EQ(L.GetLogFileName(true), K.ExpectedDir);
        EXPECT_EQ(L.GetLogFileName(false), K.ExpectedDir + K.ExpectedFile);
        struct stat St{};
        ASSERT_EQ(stat(K.ExpectedDir.c_str(), &St), 0) << K.ExpectedDir;
        // The group writes there (new files inherit it); others have no access.
        EXPECT_EQ(St.st_mode & 07777, 02770u) << K.ExpectedDir;
    }

    // A full file name as base is the file itself; its folder is the directory.
    TLog L;
    L.SetLogBaseName(Dir.Str() + "/fixed.log");
    EXPECT_EQ(L.GetLogFileName(false), Dir.Str() + "/fixed.log");
    EXPECT_EQ(L.GetLogFileName(true), Dir.Str() + "/");
}

TEST_F(LogTest, MachineWideFolderUnusableFallsBackToUserFolder) {
    // A plain file where the machine-wide folder should be: nothing can be
    // created below it, whatever the account's rights.
    const std::string Blocked = Dir.Str() + "/blocked";
    std::ofstream(Blocked) << "x";
    TScopedEnv Common("FR_ORVALEN1C8X3N_DATA_DIR", Blocked);
    TScopedEnv User("XDG_DATA_HOME", Dir.Str() + "/user");
    TLog L;
    L.SetLogBaseName("fr_test");
    L.SetClock([this] { return Now; });
    L.SetLogMode(lmAll);
    L.WriteLog("src", "text", llInfo);
    const std::string UserDir = Dir.Str() + "/user/Velmark/fr_test/logs/";
    EXPECT_EQ(L.GetLogFileName(true), UserDir);
    EXPECT_NE(ReadFile(UserDir + "fr_test_2024.03.03.log").find("\tINFO\tsrc: \ttext\r\n"), std::string::npos);
}

TEST(LogFolders, UserFolderFromEnvironment) {
    {
        TScopedEnv Xdg("XDG_DATA_HOME", "/xdg/data");
        EXPECT_EQ(UserAppDataFolder(), "/xdg/data/");
    }
    TScopedEnv Xdg("XDG_DATA_HOME", std::nullopt);
    TScopedEnv Home("HOME", "/home/cashier/");
    EXPECT_EQ(UserAppDataFolder(), "/home/cashier/.local/share/");
    TScopedEnv Common("FR_ORVALEN1C8X3N_DATA_DIR", std::nullopt);
    EXPECT_EQ(CommonAppDataFolder(), "/var/lib/");
}

TEST_F(LogTest, DateChangesAtLocalMidnightWithoutRotation) {
    Log.SetLogMode(lmAll);
    Now = LocalAt(2024, 3, 3, 23, 59, 59, 999);
    Log.WriteLog("before", "", llInfo);
    Now = LocalAt(2024, 3, 4, 0, 0, 0, 0);
    Log.WriteLog("after", "", llInfo);
    const std::string Old = ReadFile(Today());
    const std::string New = ReadFile(Dir.Path() / "fr_test_2024.03.04.log");
    EXPECT_NE(Old.find("2024.03.03 23:59:59.999\tINFO\tbefore\r\n"), std::string::npos);
    EXPECT_EQ(Old.find("after"), std::string::npos);
    EXPECT_EQ(New, "2024.03.04 00:00:00.000\tINFO\tafter\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir.Path()), fs::directory_iterator()), 2);
    EXPECT_EQ(Log.GetLogFileName(false), (Dir.Path() / "fr_test_2024.03.04.log").string());
}

TEST_F(LogTest, FolderRemovedBetweenLinesIsMadeAgain) {
    // Lines do not look at a folder they already used; one removed meanwhile
    // (an administrator's clean-up) must still get the next line.
    const fs::path Logs = Dir.Path() / "logs";
    Log.SetLogDirectory(Logs.string());
    Log.SetLogMode(lmErrors);
    Log.WriteLog("first", "", llError);
    fs::remove_all(Logs);
    Log.WriteLog("second", "", llError);
    EXPECT_EQ(ReadFile(Logs / "fr_test_2024.03.03.log"), "2024.03.03 12:00:00.000\tERROR\tsecond\r\n");
    struct stat St{};
    ASSERT_EQ(stat(Logs.c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 07777, 02770u);
}

TEST_F(LogTest, RotationThreshold) {
    Log.SetLogMode(lmAll);
    Log.WriteHeaderIfDue();
    const std::string Line = "2024.03.03 12:00:00.000\tINFO\tnext\r\n";
    const std::string Start = "2024.03.03 12:00:00.000\tDEBUG\t--- Начало формирования индекса лог-файла ---\r\n";
    const std::string End = "2024.03.03 12:00:00.000\tDEBUG\t--- Окончание формирования индекса лог-файла ---\r\n";
    const fs::path Rotated = Dir.Path() / "fr_test_2024.03.03_1.log";
    for (const uintmax_t Size : {uintmax_t(10485759), uintmax_t(10485760)}) {
        fs::remove(Rotated);
        fs::resize_file(Today(), Size);
        Log.WriteLog("next", "", llInfo);
        if (Size == 10485759) {
            EXPECT_FALSE(fs::exists(Rotated));
            EXPECT_EQ(fs::file_size(Today()), Size + Line.size());
        } else {
            ASSERT_TRUE(fs::exists(Rotated));
            EXPECT_EQ(fs::file_size(Rotated), Size + Start.size());
            std::ifstream F(Rotated, std::ios::binary);
            F.seekg(std::streamoff(Size));
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(F), {}), Start);
            EXPECT_EQ(ReadFile(Today()), End + Line);
        }
    }
}

TEST_F(LogTest, RotationIndexRule) {
    struct TCase {
        const char* Name;
        std::vector<std::string> Present;
        const char* Expected;
    } Cases[] = {
        {"none", {}, "fr_test_2024.03.03_1.log"},
        {"previous day", {"fr_test_2024.03.02_4.log"}, "fr_test_2024.03.03_5.log"},
        {"today and other day", {"fr_test_2024.03.03_2.log", "fr_test_2024.03.01_3.log"}, "fr_test_2024.03.03_4.log"},
        // Only the length of the name is compared, not its beginning.
        {"same length other base", {"xx_test_2024.03.02_7.log"}, "fr_test_2024.03.03_8.log"},
        {"not an index", {"fr_test_2024.03.02_x9.log", "fr_test_2024.03.02_-3.log", "fr_test.log"},
         "fr_test_2024.03.03_1.log"},
        {"index above 32 bits", {"fr_test_2024.03.02_99999999999.log"}, "fr_test_2024.03.03_1.log"},
    };
    // The header goes out once, before the cases, so that each case's file
    // holds only what rotation writes.
    Log.SetLogMode(lmErrors);
    Log.WriteHeaderIfDue();
    for (const auto& C : Cases) {
        for (const auto& E : fs::directory_iterator(Dir.Path())) fs::remove_all(E.path());
        for (const auto& P : C.Present) std::ofstream(Dir.Path() / P) << "x";
        std::ofstream(Today()).close();
        fs::resize_file(Today(), 10485760);
        Log.WriteLog("line", "", llError);
        EXPECT_TRUE(fs::exists(Dir.Path() / C.Expected)) << C.Name;
        EXPECT_EQ(CountOf(ReadFile(Today()), "\r\n"), 2u) << C.Name;  // closing mark and the line
    }
    Log.SetLogMode(lmSuspended);
}

TEST_F(LogTest, FailedRotationKeepsTheLineInTheCurrentFile) {
    // Something that is no log file (not listed, so its index is not
    // counted) holds the name the rotation picks: the rename is refused and
    // the line goes to the current file, without waiting for its own lock.
    fs::create_directory(Dir.Path() / "fr_test_2024.03.03_1.log");
    std::ofstream(Today()).close();
    fs::resize_file(Today(), 10485760);
    Log.SetLogMode(lmErrors);
    const auto Start = std::chrono::steady_clock::now();
    Log.WriteLog("line", "", llError);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(500));
    std::ifstream F(Today(), std::ios::binary);
    F.seekg(std::streamoff(10485760));
    const std::string Added(std::istreambuf_iterator<char>(F), {});
    EXPECT_NE(Added.find("\tERROR\tline\r\n"), std::string::npos) << Added;
    EXPECT_TRUE(fs::is_directory(Dir.Path() / "fr_test_2024.03.03_1.log"));
    Log.SetLogMode(lmSuspended);
}

void SetAge(const fs::path& P, int AMinutesAgo) {
    fs::last_write_time(P, fs::file_time_type::clock::now() - std::chrono::minutes(AMinutesAgo));
}

TEST_F(LogTest, RotationPurgesOldestButNeverTheCurrentFile) {
    // 21 other files dated in the future (the clock was set back): the big
    // current file, just appended to, is the oldest of all and must survive.
    for (int I = 0; I < 21; ++I) {
        const fs::path P = Dir.Path() / ("old_" + std::to_string(100 + I) + ".log");
        std::ofstream(P) << I;
        SetAge(P, -(100 + I));
    }
    std::ofstream(Dir.Path() / "notes.txt") << "kept";
    std::ofstream(Today()).close();
    fs::resize_file(Today(), 10485760);
    Log.SetLogMode(lmErrors);
    Log.WriteLog("line", "", llError);
    // 22 listed: the two oldest other files go, the current one stays.
    EXPECT_FALSE(fs::exists(Dir.Path() / "old_100.log"));
    EXPECT_FALSE(fs::exists(Dir.Path() / "old_101.log"));
    EXPECT_TRUE(fs::exists(Dir.Path() / "old_102.log"));
    EXPECT_TRUE(fs::exists(Dir.Path() / "notes.txt"));
    ASSERT_TRUE(fs::exists(Dir.Path() / "fr_test_2024.03.03_1.log"));
    EXPECT_GE(fs::file_size(Dir.Path() / "fr_test_2024.03.03_1.log"), 10485760u);
    Log.SetLogMode(lmSuspended);
}

TEST_F(LogTest, PurgeKeepsTwentyNewest) {
    for (int I = 0; I < 23; ++I) {
        const fs::path P = Dir.Path() / ("f" + std::to_string(10 + I) + ".log");
        std::ofstream(P) << I;
        SetAge(P, 100 - I);
    }
    std::ofstream(Dir.Path() / "keep.txt") << "x";
    Log.PurgeLogFiles();
    const auto Left = ListLogFilesOldestFirst(Dir.Str());
    ASSERT_EQ(Left.size(), 20u);
    EXPECT_EQ(Left.front(), "f13.log");
    EXPECT_EQ(Left.back(), "f32.log");
    EXPECT_TRUE(fs::exists(Dir.Path() / "keep.txt"));
}

TEST_F(LogTest, HostileFileAtTodaysNameIsRefusedWhereItStands) {
    // The machine-wide folder, where a refusal for lack of rights moves the
    // logging to the per-user folder: a planted name must not do that.
    TScopedEnv Common("FR_ORVALEN1C8X3N_DATA_DIR", Dir.Str() + "/common");
    TScopedEnv User("XDG_DATA_HOME", Dir.Str() + "/user");
    const fs::path Logs = Dir.Path() / "common/Velmark/fr_test/logs";
    const fs::path Day = Logs / "fr_test_2024.03.03.log";
    fs::create_directories(Logs);
    const fs::path Victim = Logs / "victim.txt";
    int Reader = -1;
    struct TCase {
        const char* Name;
        std::function<void()> Plant;
    } Cases[] = {
        {"symbolic link", [&] { fs::create_symlink(Victim, Day); }},
        {"second hard link", [&] { fs::create_hard_link(Victim, Day); }},
        {"fifo", [&] { ASSERT_EQ(mkfifo(Day.c_str(), 0666), 0); }},
        {"fifo with a reader",
         [&] {
             ASSERT_EQ(mkfifo(Day.c_str(), 0666), 0);
             Reader = open(Day.c_str(), O_RDONLY | O_NONBLOCK);
             ASSERT_GE(Reader, 0);
         }},
        {"directory", [&] { fs::create_directory(Day); }},
    };
    TLog L;
    L.SetLogBaseName("fr_test");
    L.SetClock([this] { return Now; });
    L.SetLogMode(lmAll);
    for (const auto& C : Cases) {
        std::ofstream(Victim) << "secret";
        C.Plant();
        EXPECT_THROW(L.WriteLog("line", "text", llInfo), std::runtime_error) << C.Name;
        EXPECT_EQ(ReadFile(Victim), "secret") << C.Name;
        EXPECT_EQ(L.GetLogFileName(true), Logs.string() + "/") << C.Name;
        EXPECT_FALSE(fs::exists(Dir.Path() / "user")) << C.Name;
        if (Reader >= 0) close(std::exchange(Reader, -1));
        fs::remove_all(Day);
        fs::remove(Victim);
    }
    // Once the name is free again the header comes with the next line.
    L.WriteLog("line", "text", llInfo);
    EXPECT_EQ(CountOf(ReadFile(Day), StartLog), 1u);
    L.SetLogMode(lmSuspended);
}

TEST_F(LogTest, NewFilesAreClosedToOtherAccounts) {
    fs::permissions(Dir.Path(), fs::perms(0755));
    const mode_t Old = umask(0);
    Log.SetLogMode(lmErrors);
    Log.WriteLog("line", "", llError);
    umask(Old);
    struct stat St{};
    ASSERT_EQ(stat(Today().c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0660u) << "a private folder: the umask may narrow, never widen";

    // Group-writable folders, one left open to everybody by someone else:
    // the group appends to new files, others get nothing, the folder's own
    // modes stay as they were.
    for (const mode_t FolderMode : {mode_t(02770), mode_t(0777)}) {
        const fs::path Shared = Dir.Path() / ("shared" + std::to_string(FolderMode));
        fs::create_directory(Shared);
        ASSERT_EQ(chmod(Shared.c_str(), FolderMode), 0);
        TLog L;
        L.SetLogDirectory(Shared.string());
        L.SetLogBaseName("s");
        L.SetClock([this] { return Now; });
        L.SetLogMode(lmErrors);
        const mode_t Old2 = umask(022);
        L.WriteLog("line", "", llError);
        umask(Old2);
        ASSERT_EQ(stat((Shared / "s_2024.03.03.log").c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 0777, 0660u) << std::oct << FolderMode;
        ASSERT_EQ(stat(Shared.c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 07777, FolderMode);
    }
}

TEST_F(LogTest, ConcurrentWritersLoseNoLineAndRotateOnce) {
    // Two log objects stand for two processes (separate in-process locks),
    // two threads each; the file starts just past the limit.
    std::ofstream(Today()).close();
    fs::resize_file(Today(), 10485760);
    TLog Other;
    Other.SetLogDirectory(Dir.Str());
    Other.SetLogBaseName("fr_test");
    Other.SetClock([this] { return Now; });
    Log.SetLogMode(lmErrors);
    Other.SetLogMode(lmErrors);
    constexpr int PerThread = 200;
    std::atomic<bool> Failed{false};
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
        Threads.emplace_back([&, T] {
            TLog& L = T % 2 ? Other : Log;
            for (int I = 0; I < PerThread; ++I) {
                try {
                    L.WriteLog("w" + std::to_string(T), std::to_string(I), llError);
                } catch (...) {
                    Failed = true;
                }
            }
        });
    for (auto& T : Threads) T.join();
    EXPECT_FALSE(Failed);
    EXPECT_FALSE(fs::exists(Dir.Path() / "fr_test_2024.03.03_2.log"));
    const std::string Text = ReadFile(Today()) + ReadFile(Dir.Path() / "fr_test_2024.03.03_1.log");
    for (int T = 0; T < 4; ++T)
        for (int I = 0; I < PerThread; I += 37)
            EXPECT_EQ(CountOf(Text, "\tw" + std::to_string(T) + ": \t" + std::to_string(I) + "\r\n"), 1u);
    EXPECT_EQ(CountOf(Text, "\tERROR\tw"), size_t(4 * PerThread));
    Log.SetLogMode(lmSuspended);
    Other.SetLogMode(lmSuspended);
}

TEST(LogGlobal, StartUpPointsAtDriverFolderAndFunctionsDelegate) {
    TTempDir Dir;
    TScopedEnv Common("FR_ORVALEN1C8X3N_DATA_DIR", Dir.Str());
    StartDriverLog("fr_orvalen1c8x3n");
    const std::string Expected = Dir.Str() + "/Velmark/fr_orvalen1c8x3n/logs/";
    EXPECT_EQ(GetLogFileName(true), Expected);
    EXPECT_TRUE(fs::is_directory(Expected));
    EXPECT_EQ(GetLogMode(), lmOff);
    SetLogMode(lmSuspended);
    EXPECT_EQ(GetLogMode(), lmSuspended);
    WriteLog("nothing", "written", llError);
    EXPECT_TRUE(fs::is_empty(Expected));
    SetLogMode(lmOff);
    GlobalLog().SetLogDirectory("");
}

}  // namespace
