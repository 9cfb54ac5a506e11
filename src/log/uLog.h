// Per-day log files: one line per event, written through WriteLog, gated by
// the global log mode that the frame switches around every host call.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace fr {

enum TLogMode : uint8_t { lmSuspended = 0, lmOff = 1, lmErrors = 2, lmInfoAndErrors = 3, lmAll = 4 };
enum TLogLevel : uint8_t { llInfo = 0, llDebug = 1, llError = 2 };

// One log: its folder, file stem, mode and header state. The library has
// one global instance (GlobalLog); tests make their own over a temporary
// folder and a fixed clock.
class TLog {
public:
    using TClock = std::function<struct timespec()>;

    TLog();
    ~TLog();  // writes the footer when due

    // Empty directory: the default folder under the machine-wide data folder.
    // A relative one is taken under the machine-wide data folder.
    void SetLogDirectory(const std::string& ADirectory);
    void SetLogBaseName(const std::string& ABaseName);
    const std::string& LogDirectory() const { return FLogDirectory; }
    const std::string& LogBaseName() const { return FLogBaseName; }

    TLogMode Mode() const { return FMode; }
    void SetLogMode(TLogMode AMode);

    void WriteLog(std::string_view ASource, std::string_view AText, uint8_t ALevel);
    // Full path of today's file, or the folder with a trailing "/".
    // Creates the folder when missing.
    std::string GetLogFileName(bool ADirectoryOnly);
    // Deletes the oldest "*.log" files of the folder until 20 remain.
    void PurgeLogFiles();
    // Writes the header block now if the mode calls for it.
    void WriteHeaderIfDue();

    // Local wall-clock time source; replaced by tests.
    void SetClock(TClock AClock) { FClock = std::move(AClock); }

private:
    std::string FormatLine(std::string_view ASource, std::string_view AText, uint8_t ALevel);
    void WriteRaw(const std::string& ALine);
    void RotateIfNeeded(const std::string& AFileName);
    void AppendToFile(const std::string& AFileName, const std::string& ABytes);
    void WriteHeader();
    void WriteFooter();

    std::string FLogDirectory;
    std::string FLogBaseName;
    TLogMode FMode = lmOff;
    bool FHeaderWritten = false;
    TClock FClock;
    std::mutex FLock;
};

TLog& GlobalLog();

// The calls every layer uses; they act on GlobalLog().
void WriteLog(std::string_view ASource, std::string_view AText, uint8_t ALevel);
void SetLogMode(TLogMode AMode);
TLogMode GetLogMode();
std::string GetLogFileName(bool ADirectoryOnly);

// Machine-wide application-data folder with a trailing "/": /var/lib/, or the
// folder named by FR_ORVALEN1C8X3N_DATA_DIR when that is set (test isolation,
// read-only systems). Per-user fall-back: $XDG_DATA_HOME or ~/.local/share.
std::string CommonAppDataFolder();
std::string UserAppDataFolder();

}  // namespace fr
