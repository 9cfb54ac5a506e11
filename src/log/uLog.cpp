#include "log/uLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "base/uSystem.h"
#include "log/uLogFile.h"
#include "log/uSystemInfo.h"

namespace fr {

// The log file's failures read the same on every system.
ELogFileError::ELogFileError(const std::string& AWhat, const std::string& APath, int AError)
    : std::runtime_error(AWhat + " " + APath + ": " + SystemErrorText(AError)), Errno(AError) {}

ELogFileError PlantedObject(const std::string& APath) {
    return ELogFileError("На месте файла журнала " + APath +
                         " не обычный файл с одним именем (ссылка, канал или каталог): запись отклонена");
}

namespace fs = std::filesystem;

namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view RotationStartText = "--- Начало формирования индекса лог-файла ---";
constexpr std::string_view RotationEndText = "--- Окончание формирования индекса лог-файла ---";
constexpr std::string_view FooterText = "============Stop log===============";

bool IsActive(TLogMode M) { return M == lmErrors || M == lmInfoAndErrors || M == lmAll; }

bool StartsWith(std::string_view S, std::string_view Prefix) {
    return S.size() >= Prefix.size() && S.substr(0, Prefix.size()) == Prefix;
}

// Name without its last extension ("a_2024.03.03.log" -> "a_2024.03.03").
std::string_view WithoutExtension(std::string_view AName) {
    const size_t Dot = AName.rfind('.');
    return Dot == std::string_view::npos ? AName : AName.substr(0, Dot);
}

std::string FileNameOnly(std::string_view APath) {
    const size_t Slash = APath.rfind('/');
    return std::string(Slash == std::string_view::npos ? APath : APath.substr(Slash + 1));
}

bool HasLogExtension(std::string_view AName) {
    return AName.size() >= 4 && SameTextAscii(AName.substr(AName.size() - 4), ".log");
}

// A decimal integer with optional sign in the range of a 32-bit integer.
std::optional<int64_t> ParseIndex(std::string_view S) {
    bool Negative = false;
    if (!S.empty() && (S[0] == '+' || S[0] == '-')) {
        Negative = S[0] == '-';
        S.remove_prefix(1);
    }
    if (S.empty()) return std::nullopt;
    int64_t V = 0;
    for (const char C : S) {
        if (C < '0' || C > '9') return std::nullopt;
        V = V * 10 + (C - '0');
        if (V > int64_t(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
    }
    if (Negative) V = -V;
    if (V > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return V;
}

struct tm LocalTime(const struct timespec& T) {
    struct tm R{};
    LocalTimeOf(T.tv_sec, R);
    return R;
}

std::string DateText(const struct timespec& T) {
    const struct tm L = LocalTime(T);
    char Buf[32];
    std::snprintf(Buf, sizeof(Buf), "%04d.%02d.%02d", L.tm_year + 1900, L.tm_mon + 1, L.tm_mday);
    return Buf;
}

// Deletes the oldest names of AFiles until ALimit remain, never the file
// named AKeep (the file being written).
void DeleteOldest(const std::string& ADirectory, std::vector<std::string>& AFiles, size_t ALimit,
                  const std::string& AKeep) {
    while (AFiles.size() > ALimit) {
        auto It = std::find_if(AFiles.begin(), AFiles.end(), [&](const std::string& N) { return N != AKeep; });
        if (It == AFiles.end()) break;
        RemoveLogFile(ADirectory + *It);  // a file that stays is simply not counted
        AFiles.erase(It);
    }
}

// State of the global log: not built yet, in use, destroyed at unload.
constinit std::atomic<int> GGlobalLogState{0};

struct TGlobalLogHolder {
    TGlobalLogHolder() { GGlobalLogState.store(1); }
    ~TGlobalLogHolder() { GGlobalLogState.store(2); }  // runs before Log's destructor writes the footer
    TLog Log;
};

}  // namespace

std::vector<std::string> ListLogFilesOldestFirst(const std::string& ADirectory) {
    std::vector<std::pair<fs::file_time_type, std::string>> Found;
    std::error_code Ec;
    for (fs::directory_iterator It(PathFromUtf8(ADirectory), Ec), End; !Ec && It != End; It.increment(Ec)) {
        std::error_code E2;
        if (!It->is_regular_file(E2) || It->is_symlink(E2)) continue;
        std::string Name = Utf8FromPath(It->path().filename());
        if (!HasLogExtension(Name)) continue;
        const auto Time = It->last_write_time(E2);
        if (E2) continue;
        Found.emplace_back(Time, std::move(Name));
    }
    std::stable_sort(Found.begin(), Found.end(), [](const auto& A, const auto& B) { return A.first < B.first; });
    std::vector<std::string> Names;
    Names.reserve(Found.size());
    for (auto& F : Found) Names.push_back(std::move(F.second));
    return Names;
}

namespace {

// The mode of the host call running on this thread, for one log.
struct TThreadLogMode {
    const TLog* Log = nullptr;
    TLogMode Mode = lmOff;
};
thread_local TThreadLogMode GThreadLogMode;

}  // namespace

TLog::TLog() = default;

TLogMode TLog::Mode() const {
    if (GThreadLogMode.Log == this) return GThreadLogMode.Mode;
    return FMode.load(std::memory_order_relaxed);
}

TLog::~TLog() {
    try {
        if (IsActive(Mode()) && FHeaderWritten.load()) WriteFooter();
    } catch (...) {
        // Unloading must go on; there is nobody left to tell.
    }
}

void TLog::SetLogDirectory(const std::string& ADirectory) {
    std::lock_guard G(FConfigLock);
    FLogDirectory = PortablePath(ADirectory);
    FReadyDirectory.clear();
    FUseUserFolder.store(false);
}

void TLog::SetLogBaseName(const std::string& ABaseName) {
    std::lock_guard G(FConfigLock);
    FLogBaseName = PortablePath(ABaseName);
}

std::string TLog::LogDirectory() const {
    std::lock_guard G(FConfigLock);
    return FLogDirectory;
}

std::string TLog::LogBaseName() const {
    std::lock_guard G(FConfigLock);
    return FLogBaseName;
}

struct timespec TLog::Now() const {
    if (FClock) return FClock();
    const auto Since = std::chrono::system_clock::now().time_since_epoch();
    const auto Seconds = std::chrono::duration_cast<std::chrono::seconds>(Since);
    struct timespec T{};
    T.tv_sec = time_t(Seconds.count());
    T.tv_nsec = long(std::chrono::duration_cast<std::chrono::nanoseconds>(Since - Seconds).count());
    return T;
}

bool TLog::ModeAllows(TLogMode AMode, uint8_t ALevel) {
    switch (AMode) {
    case lmErrors: return ALevel == llError;
    case lmInfoAndErrors: return ALevel == llInfo || ALevel == llError;
    case lmAll: return true;
    default: return false;
    }
}

std::string TLog::FormatLine(const struct timespec& ATime, std::string_view ASource, std::string_view AText,
                             uint8_t ALevel) {
    static constexpr const char* LevelWords[] = {"INFO", "DEBUG", "ERROR"};
    const struct tm L = LocalTime(ATime);
    const int Ms = int(std::clamp<long>(ATime.tv_nsec / 1000000, 0, 999));
    char Buf[48];
    std::snprintf(Buf, sizeof(Buf), "%04d.%02d.%02d %02d:%02d:%02d.%03d", L.tm_year + 1900, L.tm_mon + 1,
                  L.tm_mday, L.tm_hour, L.tm_min, L.tm_sec, Ms);
    std::string R = Buf;
    R += '\t';
    if (ALevel <= llError) {
        R += LevelWords[ALevel];
        R += '\t';
    }
    R += Trim(ASource);
    // Emptiness is judged before trimming: a text of blanks still gets its separator.
    if (!AText.empty()) {
        R += ": \t";
        R += Trim(AText);
    }
    return R;
}

std::string TLog::ResolveDirectory(const TNameConfig& AConfig, const std::string& ABase, bool& APerUser) const {
    const std::string Common = CommonAppDataFolder();
    std::string Dir;
    if (AConfig.Directory.empty())
        Dir = Common + LogCompanyFolder + "/" + ABase + "/logs";
    else if (IsAbsolutePath(AConfig.Directory))
        Dir = AConfig.Directory;
    else
        Dir = Common + AConfig.Directory;
    Dir = WithSlash(Dir);
    APerUser = FUseUserFolder.load() && StartsWith(Dir, Common);
    if (APerUser) Dir = UserAppDataFolder() + Dir.substr(Common.size());
    return Dir;
}

std::string TLog::FileNameAt(const struct timespec& ATime, bool ADirectoryOnly, bool ATrustReadyDirectory) {
    TNameConfig C;
    std::string Ready;
    {
        std::lock_guard G(FConfigLock);
        C.Directory = FLogDirectory;
        C.BaseName = FLogBaseName;
        if (ATrustReadyDirectory) Ready = FReadyDirectory;
    }
    std::string Base;
    if (C.BaseName.empty()) {
        Base = WithoutExtension(FileNameOnly(LibraryFileName()));
    } else if (IsAbsolutePath(C.BaseName)) {
        // A full file name is used as it stands; its folder is the directory.
        return ADirectoryOnly ? C.BaseName.substr(0, C.BaseName.rfind('/') + 1) : C.BaseName;
    } else {
        Base = WithoutExtension(FileNameOnly(C.BaseName));
    }
    bool PerUser = false;
    std::string Dir = ResolveDirectory(C, Base, PerUser);
    if (Dir != Ready && !DirectoryExists(Dir)) {
        const std::string Common = CommonAppDataFolder();
        try {
            // Only this account writes under its own data folder.
            CreateLogDirectory(Dir, !PerUser);
        } catch (const ELogFileError&) {
            if (PerUser || !StartsWith(Dir, Common)) throw;
            FUseUserFolder.store(true);
            Dir = UserAppDataFolder() + Dir.substr(Common.size());
            if (!DirectoryExists(Dir)) CreateLogDirectory(Dir, false);
        }
    }
    if (Dir != Ready) {
        std::lock_guard G(FConfigLock);
        FReadyDirectory = Dir;
    }
    return ADirectoryOnly ? Dir : Dir + Base + "_" + DateText(ATime) + ".log";
}

std::string TLog::GetLogFileName(bool ADirectoryOnly) { return FileNameAt(Now(), ADirectoryOnly, false); }

bool TLog::Rotate(const std::string& AFileName) {
    const size_t Slash = AFileName.rfind('/');
    const std::string Dir = AFileName.substr(0, Slash + 1);
    const std::string Name = AFileName.substr(Slash + 1);
    const std::string Stem(WithoutExtension(Name));
    const std::string Ext = Name.substr(Stem.size());

    std::vector<std::string> Files = ListLogFilesOldestFirst(Dir.empty() ? "." : Dir);
    DeleteOldest(Dir, Files, LogMaxFileCount, Name);

    // Only the part after "<stem>_" is read, whatever precedes it: indexes of
    // other days' files with names of the same length count too.
    int64_t Index = 1;
    for (const std::string& F : Files) {
        const std::string_view FStem = WithoutExtension(F);
        if (FStem.size() <= Stem.size() + 1) continue;
        if (const auto V = ParseIndex(FStem.substr(Stem.size() + 1)); V && *V >= Index) Index = *V + 1;
    }
    const std::string Target = Dir + Stem + "_" + std::to_string(Index) + Ext;
    // Never replace an existing file; a failed rename leaves the lines in the
    // current file.
    return RenameLogFile(AFileName, Target);
}

void TLog::AppendLocked(const std::string& AFileName, const struct timespec& ATime, const std::string& ABytes) {
    TLogFile Old = TLogFile::OpenForAppend(AFileName, LogMaxFileSize);
    if (Old.Size() <= LogMaxFileSize) {
        Old.Write(ABytes, AFileName);
        return;
    }
    Old.Write(FormatLine(ATime, RotationStartText, {}, llDebug) + std::string(LineEnd), AFileName);
    // The old file stays locked until renamed, so other writers waiting on it
    // notice the new file under the name. A file that keeps its name takes
    // the line: opening the name again would wait for our own lock.
    if (!Rotate(AFileName)) {
        Old.Write(ABytes, AFileName);
        return;
    }
    TLogFile New = TLogFile::OpenForAppend(AFileName, LogMaxFileSize);
    Old.Close();
    New.Write(FormatLine(ATime, RotationEndText, {}, llDebug) + std::string(LineEnd) + ABytes, AFileName);
}

void TLog::WriteRaw(const struct timespec& ATime, const std::string& ABytes) {
    // The folder is looked at only when it is new to this log; a folder
    // removed since then shows as a missing path and is made again.
    std::string Name = FileNameAt(ATime, false, true);
    try {
        std::lock_guard G(FLock);
        AppendLocked(Name, ATime, ABytes);
    } catch (const ELogFileError& E) {
        if (IsMissingError(E.Errno)) {
            Name = FileNameAt(ATime, false, false);
            std::lock_guard G(FLock);
            AppendLocked(Name, ATime, ABytes);
            return;
        }
        const std::string Common = CommonAppDataFolder();
        if (!IsAccessError(E.Errno) || FUseUserFolder.load() || !StartsWith(Name, Common)) throw;
        // The machine-wide folder exists but this account may not write there.
        FUseUserFolder.store(true);
        Name = FileNameAt(ATime, false, false);
        std::lock_guard G(FLock);
        AppendLocked(Name, ATime, ABytes);
    }
}

std::string TLog::HeaderBlock() const {
    const std::string Blank(40, ' ');
    const std::string End(LineEnd);
    return Blank + End + "============Start log=============" + End + "OS version:\t" + OSDescription() + End +
           "Application:\t" + FileNameOnly(LibraryFileName()) + End + "App. version:\t" + LibraryVersion() + End +
           Blank + End;
}

void TLog::WriteHeader(const struct timespec& ATime) {
    // The flag is taken first so that concurrent writers add one header only;
    // a header that could not be written is tried again with the next line.
    if (FHeaderWritten.exchange(true)) return;
    try {
        WriteRaw(ATime, HeaderBlock());
    } catch (...) {
        FHeaderWritten.store(false);
        throw;
    }
}

void TLog::WriteHeaderIfDue() {
    if (IsActive(Mode()) && !FHeaderWritten.load()) WriteHeader(Now());
}

void TLog::WriteFooter() { WriteRaw(Now(), std::string(FooterText) + std::string(LineEnd) + std::string(LineEnd)); }

void TLog::SetLogMode(TLogMode AMode) {
    const TLogMode Prev = Mode();
    // The next call, on whatever thread, starts from the mode set last.
    const auto Store = [this](TLogMode M) {
        if (GThreadLogMode.Log == this) GThreadLogMode.Mode = M;
        FMode.store(M);
    };
    if (AMode == lmOff && IsActive(Prev)) {
        const bool HadHeader = FHeaderWritten.exchange(false);
        Store(lmOff);
        if (HadHeader) WriteFooter();
        return;
    }
    if (AMode == lmOff && Prev == lmSuspended) FHeaderWritten.store(false);
    Store(AMode);
}

TLogModeScope::TLogModeScope(TLog& ALog) : FSavedLog(GThreadLogMode.Log), FSavedMode(GThreadLogMode.Mode) {
    if (GThreadLogMode.Log != &ALog) GThreadLogMode = {&ALog, ALog.FMode.load()};
}

TLogModeScope::~TLogModeScope() {
    // A nested scope of the same log leaves the shared mode as it is.
    if (FSavedLog != GThreadLogMode.Log) GThreadLogMode = {FSavedLog, FSavedMode};
}

void TLog::WriteLog(std::string_view ASource, std::string_view AText, uint8_t ALevel) {
    const TLogMode M = Mode();
    if (!ModeAllows(M, ALevel)) return;
    const struct timespec T = Now();
    std::string Line = FormatLine(T, ASource, AText, ALevel);
    Line += LineEnd;
    if (IsActive(M) && !FHeaderWritten.load()) WriteHeader(T);
    WriteRaw(T, Line);
}

TLog& GlobalLog() {
    static TGlobalLogHolder Holder;
    return Holder.Log;
}

namespace {
// The global log exists from library load on, before any unit can use it.
[[maybe_unused]] const bool GGlobalLogBuilt = (GlobalLog(), true);

bool GlobalLogGone() { return GGlobalLogState.load() == 2; }
}  // namespace

void WriteLog(std::string_view ASource, std::string_view AText, uint8_t ALevel) {
    // A line that cannot be written must never interrupt a driver operation
    // half-way (a receipt on the device); the line is lost instead.
    try {
        if (!GlobalLogGone()) GlobalLog().WriteLog(ASource, AText, ALevel);
    } catch (...) {
    }
}

void SetLogMode(TLogMode AMode) {
    if (!GlobalLogGone()) GlobalLog().SetLogMode(AMode);
}

TLogMode GetLogMode() { return GlobalLogGone() ? lmOff : GlobalLog().Mode(); }

bool LogWrites(uint8_t ALevel) { return TLog::ModeAllows(GetLogMode(), ALevel); }

TLogModeScope::TLogModeScope() : FSavedLog(GThreadLogMode.Log), FSavedMode(GThreadLogMode.Mode) {
    if (!GlobalLogGone() && GThreadLogMode.Log != &GlobalLog())
        GThreadLogMode = {&GlobalLog(), GlobalLog().FMode.load()};
}

std::string GetLogFileName(bool ADirectoryOnly) {
    return GlobalLogGone() ? std::string() : GlobalLog().GetLogFileName(ADirectoryOnly);
}

void StartDriverLog(const std::string& ADriverID) {
    try {
        const std::string Common = WithoutSlash(CommonAppDataFolder());
        GlobalLog().SetLogDirectory(Common + "/" + LogCompanyFolder + "/" + ADriverID + "/logs");
        GlobalLog().PurgeLogFiles();
    } catch (...) {
        // Start-up runs while the host loads the library and must not fail it.
    }
}

void TLog::PurgeLogFiles() {
    const std::string Dir = GetLogFileName(true);
    std::lock_guard G(FLock);
    std::vector<std::string> Files = ListLogFilesOldestFirst(Dir);
    DeleteOldest(Dir, Files, LogMaxFileCount, {});
}

}  // namespace fr
