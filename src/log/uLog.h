// Per-day log files: one line per event, written through WriteLog, gated by
// the global log mode that the frame switches around every host call.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fr {

enum TLogMode : uint8_t { lmSuspended = 0, lmOff = 1, lmErrors = 2, lmInfoAndErrors = 3, lmAll = 4 };
enum TLogLevel : uint8_t { llInfo = 0, llDebug = 1, llError = 2 };

// Company and product folders of the default log directory.
inline constexpr const char* LogCompanyFolder = "Velmark";
// A file larger than this gets a running index on the next line written.
inline constexpr int64_t LogMaxFileSize = 0x9FFFFF;
// Number of "*.log" files kept in the log directory.
inline constexpr size_t LogMaxFileCount = 20;

// One log: its folder, file stem, mode and header state. The library has
// one global instance (GlobalLog); tests make their own over a temporary
// folder and a fixed clock.
class TLog {
public:
    // Wall-clock time (seconds since the epoch); converted to local time.
    using TClock = std::function<struct timespec()>;

    TLog();
    ~TLog();  // writes the footer when due; never throws

    TLog(const TLog&) = delete;
    TLog& operator=(const TLog&) = delete;

    // Empty directory: the default folder under the machine-wide data folder.
    // A relative one is taken under the machine-wide data folder.
    void SetLogDirectory(const std::string& ADirectory);
    void SetLogBaseName(const std::string& ABaseName);
    std::string LogDirectory() const;
    std::string LogBaseName() const;

    // The mode of the host call running on this thread (TLogModeScope), else
    // the log's own mode.
    TLogMode Mode() const;
    // lmOff after an active mode writes the footer (when a header was written)
    // and makes the next activation start with a new header; lmSuspended
    // keeps the header state. Raises when the footer cannot be written; the
    // mode is switched all the same.
    void SetLogMode(TLogMode AMode);

    // Writes one line when the mode admits the level, preceded by the header
    // block on the first line after an activation. Raises std::runtime_error
    // when the file cannot be opened or written; the line is lost then.
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

    // The text of one line without its line end, as WriteLog writes it.
    static std::string FormatLine(const struct timespec& ATime, std::string_view ASource,
                                  std::string_view AText, uint8_t ALevel);
    // Whether AMode writes lines of level ALevel.
    static bool ModeAllows(TLogMode AMode, uint8_t ALevel);

private:
    struct TNameConfig {
        std::string Directory;
        std::string BaseName;
    };

    struct timespec Now() const;
    // Creates the folder when missing; ATrustReadyDirectory skips looking at
    // a folder this log has already made sure of (the path of every line).
    std::string FileNameAt(const struct timespec& ATime, bool ADirectoryOnly, bool ATrustReadyDirectory);
    // APerUser tells whether the per-user fall-back replaced the machine-wide folder.
    std::string ResolveDirectory(const TNameConfig& AConfig, const std::string& ABase, bool& APerUser) const;
    // Appends ABytes (already ending with CR LF) to the file of ATime, rotating
    // it first when it is too large.
    void WriteRaw(const struct timespec& ATime, const std::string& ABytes);
    void AppendLocked(const std::string& AFileName, const struct timespec& ATime,
                      const std::string& ABytes);
    // Renames the file to its next index; false when it keeps its name.
    bool Rotate(const std::string& AFileName);
    std::string HeaderBlock() const;
    void WriteHeader(const struct timespec& ATime);
    void WriteFooter();

    friend class TLogModeScope;

    mutable std::mutex FConfigLock;  // guards the three texts below
    std::string FLogDirectory;
    std::string FLogBaseName;
    std::string FReadyDirectory;  // the folder last found or made, "" before
    std::atomic<TLogMode> FMode{lmOff};
    std::atomic<bool> FHeaderWritten{false};
    // Set once the machine-wide folder proved unusable; names then resolve
    // under the per-user folder.
    std::atomic<bool> FUseUserFolder{false};
    TClock FClock;
    std::mutex FLock;  // file access: rotation and append
};

TLog& GlobalLog();

// While it lives, the calling thread has a mode of its own for ALog (the
// global log by default), starting as the log's current mode. Mode switches
// made on this thread change it and the log's mode; a call running at the
// same time on another thread keeps its own. So the lines of one host call
// follow that call's device, whichever thread the host uses. Nested scopes
// of the same log share the outer one's mode.
class TLogModeScope {
public:
    TLogModeScope();
    explicit TLogModeScope(TLog& ALog);
    ~TLogModeScope();
    TLogModeScope(const TLogModeScope&) = delete;
    TLogModeScope& operator=(const TLogModeScope&) = delete;

private:
    const TLog* FSavedLog;
    TLogMode FSavedMode;
};

// The calls every layer uses; they act on GlobalLog(). After the global log
// is gone (library unload) they do nothing and return empty texts.
void WriteLog(std::string_view ASource, std::string_view AText, uint8_t ALevel);
void SetLogMode(TLogMode AMode);
TLogMode GetLogMode();
// Whether a line of ALevel would be written now; callers skip building
// texts that nobody reads.
bool LogWrites(uint8_t ALevel);
std::string GetLogFileName(bool ADirectoryOnly);

// Library start-up: points the global log at
// <machine-wide>/Velmark/<ADriverID>/logs and purges old files. Never throws:
// a folder that cannot be prepared now is reported by the first line written.
void StartDriverLog(const std::string& ADriverID);


// Names (without folder) of the plain "*.log" files of a folder, oldest
// last-write time first; files of equal time keep the folder's listing order.
std::vector<std::string> ListLogFilesOldestFirst(const std::string& ADirectory);

}  // namespace fr
