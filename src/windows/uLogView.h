// What the log viewer shows, apart from the window itself: the list of log
// files, the text of a file in the chosen encoding, and when to reload it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fr::win {

enum TLogEncoding { leUtf8, leAnsi, leOem };

// The encoding list in the order the window offers it.
inline constexpr const char* LogEncodingNames[] = {"UTF-8", "ANSI", "OEM"};

// Names (without folder) of the plain files of ADirectory whose extension,
// in lower case, is ".log", sorted by name. A missing folder gives none.
std::vector<std::string> ListLogFiles(const std::string& ADirectory);

// Index in AFiles of the most recently written file of ADirectory (the one
// the viewer opens with), or -1 when AFiles is empty. Rotated files of a day
// sort after that day's current file, so the last name is not always the
// newest.
int NewestLogFile(const std::string& ADirectory, const std::vector<std::string>& AFiles);

// The bytes of a log file as UTF-8 text that a text view accepts: invalid
// UTF-8 and the zero byte become U+FFFD; ANSI is Windows-1251, OEM code page
// 866 (a byte without a character becomes "?").
std::string DecodeLogText(std::string_view ABytes, TLogEncoding AEncoding);

// What the viewer remembers of the shown file.
struct TFileStamp {
    bool Exists = false;
    int64_t WriteTimeNs = 0;  // last-write time, nanoseconds of the file system's clock
    int64_t Size = 0;
};

TFileStamp StampOfFile(const std::string& APath);
// True when the file still exists and was written since AShown was taken.
// A change of size counts too: two writes within one tick of a coarse file
// system clock keep the same time.
bool FileChanged(const TFileStamp& AShown, const TFileStamp& ANow);

// A size given for 120 pixels per inch, for a desktop of ADpi.
int ScaleFrom120(int APixels, double ADpi);

}  // namespace fr::win
