// What the log viewer shows: which files it lists and opens with, the text
// of a file in each encoding, when it reloads, and its sizes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "windows/uLogView.h"

using namespace fr::win;
namespace fs = std::filesystem;

namespace {

class TTempDir {
public:
    TTempDir() {
        Path = fs::temp_directory_path() / ("fr_logview_" + std::to_string(getpid()) + "_" + std::to_string(++Count));
        fs::create_directories(Path);
    }
    ~TTempDir() { fs::remove_all(Path); }
    void Write(const std::string& AName, const std::string& ABytes, int ASecondsAgo = 0) const {
        std::ofstream(Path / AName, std::ios::binary) << ABytes;
        const auto T = fs::file_time_type::clock::now() - std::chrono::seconds(ASecondsAgo);
        fs::last_write_time(Path / AName, T);
    }
    std::string Dir() const { return Path.string() + "/"; }
    fs::path Path;
    static inline int Count = 0;
};

}  // namespace

TEST(LogViewFiles, ListsOnlyPlainLogFilesSortedByName) {
    TTempDir D;
    D.Write("fr_orvalen1c8x3n_2026.12.10.log", "a");
    D.Write("fr_orvalen1c8x3n_2026.12.09.log", "b");
    D.Write("fr_orvalen1c8x3n_2026.12.10_1.log", "c");
    D.Write("UPPER.LOG", "d");
    D.Write("notes.txt", "e");
    D.Write("archive.log.gz", "f");
    D.Write("log", "g");
    fs::create_directory(D.Path / "folder.log");
    EXPECT_EQ(ListLogFiles(D.Dir()),
              (std::vector<std::string>{"UPPER.LOG", "fr_orvalen1c8x3n_2026.12.09.log",
                                        "fr_orvalen1c8x3n_2026.12.10.log", "fr_orvalen1c8x3n_2026.12.10_1.log"}));
}

TEST(LogViewFiles, EmptyOrMissingFolderListsNothing) {
    TTempDir D;
    D.Write("readme.txt", "x");
    EXPECT_TRUE(ListLogFiles(D.Dir()).empty());
    EXPECT_TRUE(ListLogFiles(D.Dir() + "missing/").empty());
    EXPECT_EQ(NewestLogFile(D.Dir(), {}), -1);
}

// Today's current file is written last but sorts before its rotated parts.
TEST(LogViewFiles, OpensWithTheMostRecentlyWrittenFile) {
    TTempDir D;
    D.Write("fr_orvalen1c8x3n_2026.12.09.log", "old", 90000);
    D.Write("fr_orvalen1c8x3n_2026.12.10.log", "current", 0);
    D.Write("fr_orvalen1c8x3n_2026.12.10_1.log", "rotated", 600);
    const auto Files = ListLogFiles(D.Dir());
    ASSERT_EQ(Files.size(), 3u);
    EXPECT_EQ(Files[size_t(NewestLogFile(D.Dir(), Files))], "fr_orvalen1c8x3n_2026.12.10.log");
}

TEST(LogViewText, DecodesEachEncoding) {
    struct TCase {
        const char* Name;
        std::string Bytes;
        TLogEncoding Encoding;
        std::string Text;
    };
    const TCase Cases[] = {
        {"utf8 Cyrillic", "\xD0\x9B\xD0\xBE\xD0\xB3\r\n", leUtf8, "Лог\r\n"},
        {"utf8 invalid byte",
         "a\xFF"
         "b",
         leUtf8,
         "a\xEF\xBF\xBD"
         "b"},
        {"utf8 cut sequence", "a\xD0", leUtf8, "a\xEF\xBF\xBD"},
        {"ansi Cyrillic", "\xCB\xEE\xE3 \xB8", leAnsi, "Лог ё"},
        {"ansi euro and quotes", "\x88\x93\x94", leAnsi, "€“”"},
        {"oem Cyrillic", "\x8B\xAE\xA3 \xF1", leOem, "Лог ё"},
        {"oem box drawing", "\xC9\xCD\xBB", leOem, "╔═╗"},
        {"zero byte", std::string("a\0b", 3), leAnsi,
         "a\xEF\xBF\xBD"
         "b"},
        {"zero byte utf8", std::string("a\0b", 3), leUtf8,
         "a\xEF\xBF\xBD"
         "b"},
        {"utf8 bytes read as ansi", "\xD0\x9B", leAnsi, "Р›"},
    };
    for (const TCase& C : Cases) EXPECT_EQ(DecodeLogText(C.Bytes, C.Encoding), C.Text) << C.Name;
}

TEST(LogViewReload, ReloadsWhenWrittenSinceShownAndFileStillThere) {
    struct TCase {
        const char* Name;
        TFileStamp Shown, Now;
        bool Reload;
    };
    const TCase Cases[] = {
        {"unchanged", {true, 1000, 10}, {true, 1000, 10}, false},
        {"written later", {true, 1000, 10}, {true, 2000, 10}, true},
        {"grew within one clock tick", {true, 1000, 10}, {true, 1000, 25}, true},
        {"file removed", {true, 1000, 10}, {false, 0, 0}, false},
        {"older copy put back", {true, 1000, 10}, {true, 500, 10}, false},
        {"shown before it existed", {false, 0, 0}, {true, 1, 0}, true},
    };
    for (const TCase& C : Cases) EXPECT_EQ(FileChanged(C.Shown, C.Now), C.Reload) << C.Name;
}

TEST(LogViewReload, StampFollowsTheFile) {
    TTempDir D;
    D.Write("a.log", "one\r\n", 5);
    const TFileStamp Before = StampOfFile(D.Dir() + "a.log");
    EXPECT_TRUE(Before.Exists);
    EXPECT_EQ(Before.Size, 5);
    std::ofstream(D.Path / "a.log", std::ios::app) << "two\r\n";
    EXPECT_TRUE(FileChanged(Before, StampOfFile(D.Dir() + "a.log")));
    EXPECT_FALSE(StampOfFile(D.Dir() + "missing.log").Exists);
    EXPECT_FALSE(StampOfFile(D.Dir()).Exists);  // a folder is no file
}

TEST(WindowSizes, ScaleFrom120PixelsPerInch) {
    struct TCase {
        int Pixels;
        double Dpi;
        int Scaled;
    };
    const TCase Cases[] = {{884, 120, 884}, {884, 96, 707}, {550, 96, 440}, {633, 192, 1013},
                           {33, 144, 40},   {257, -1, 206}, {425, 0, 340}};
    for (const TCase& C : Cases) EXPECT_EQ(ScaleFrom120(C.Pixels, C.Dpi), C.Scaled) << C.Pixels << " at " << C.Dpi;
}
