#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "base/uCommonUtils.h"
#include "base/uSystem.h"
#include "log/uLogFile.h"

namespace fr {

namespace fs = std::filesystem;

bool IsAccessError(int AError) {
    return AError == EACCES || AError == EPERM || AError == EROFS;
}
bool IsMissingError(int AError) {
    return AError == ENOENT;
}

namespace {

// How long a line waits for another process that is appending to the file.
constexpr auto LockWaitLimit = std::chrono::seconds(1);

class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(int AFd) : FFd(AFd) {}
    TFileHandle(TFileHandle&& O) noexcept : FFd(std::exchange(O.FFd, -1)) {}
    TFileHandle& operator=(TFileHandle&& O) noexcept {
        if (this != &O) {
            Close();
            FFd = std::exchange(O.FFd, -1);
        }
        return *this;
    }
    ~TFileHandle() { Close(); }
    int Get() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }
    void Close() {
        if (FFd >= 0) ::close(FFd);  // also drops the flock
        FFd = -1;
    }

private:
    int FFd = -1;
};

// Takes the write lock at once when nobody else holds it.
// File systems without flock support are written without it.
bool TryLockForAppend(int AFd) {
    for (;;) {
        if (flock(AFd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EINTR) return errno != EWOULDBLOCK;
    }
}

// Waits a bounded time for other processes appending to the same file.
void WaitLockForAppend(int AFd, const std::string& APath) {
    const auto Deadline = std::chrono::steady_clock::now() + LockWaitLimit;
    while (!TryLockForAppend(AFd)) {
        if (std::chrono::steady_clock::now() >= Deadline)
            throw ELogFileError("Файл журнала занят другим процессом:", APath, EWOULDBLOCK);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct stat StatOpenFile(int AFd, const std::string& APath) {
    struct stat St {};
    if (::fstat(AFd, &St) != 0) throw ELogFileError("Не удалось открыть файл журнала", APath, errno);
    return St;
}

// A folder the group writes to (the package's setgid log folder).
bool DirectoryIsShared(const std::string& AFileName) {
    struct stat St {};
    const std::string Dir = AFileName.substr(0, AFileName.rfind('/') + 1);
    return ::stat(Dir.empty() ? "." : Dir.c_str(), &St) == 0 && (St.st_mode & S_IWGRP) != 0;
}

}  // namespace

// Opens (or creates) a log file for appending and takes its write lock.
// Never follows a symbolic link at the file name and refuses anything but a
// plain file with a single name, so nobody can redirect our lines into a
// file of theirs. The open itself refuses a symbolic link (O_NOFOLLOW), a
// FIFO nobody reads (O_NONBLOCK) and a directory (O_WRONLY); one fstat under
// the lock checks the rest. Returns the file that bears the name once the
// lock is held: a writer that rotated it meanwhile makes us reopen.
TLogFile TLogFile::OpenForAppend(const std::string& AFileName, int64_t AMaxSize) {
    const int Flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int Attempt = 0;; ++Attempt) {
        bool Created = false;
        int Fd = ::open(AFileName.c_str(), Flags);
        if (Fd < 0 && errno == ENOENT) {
            Fd = ::open(AFileName.c_str(), Flags | O_CREAT | O_EXCL, 0660);
            if (Fd >= 0)
                Created = true;
            else if (errno == EEXIST && Attempt < 5)
                continue;
        }
        if (Fd < 0 && (errno == ELOOP || errno == ENXIO || errno == EISDIR)) throw PlantedObject(AFileName);
        if (Fd < 0) throw ELogFileError("Не удалось открыть файл журнала", AFileName, errno);
        TFileHandle H(Fd);
        // The logs hold cashier INNs, marking codes and passwords: other
        // accounts never get access; the group of a shared folder appends.
        if (Created && DirectoryIsShared(AFileName)) (void)::fchmod(Fd, 0660);
        if (!TryLockForAppend(Fd)) {
            // Somebody holds the lock: wait only for a plain file (a FIFO
            // with a reader must not keep the host waiting).
            if (!S_ISREG(StatOpenFile(Fd, AFileName).st_mode)) throw PlantedObject(AFileName);
            WaitLockForAppend(Fd, AFileName);
        }
        // Type, link count and size are read under the lock: a rotation that
        // links the file to its new name before unlinking the old one holds
        // the lock meanwhile, so only a planted name shows a second link.
        const struct stat St = StatOpenFile(Fd, AFileName);
        if (!S_ISREG(St.st_mode)) throw PlantedObject(AFileName);

        // Only a file over the limit can have been rotated away from the name
        // while we waited (the rotating writer appends its mark first), so
        // the name is looked at only then.
        if (St.st_size > AMaxSize && Attempt < 5) {
            struct stat Named {};
            if (::lstat(AFileName.c_str(), &Named) != 0 || Named.st_ino != St.st_ino || Named.st_dev != St.st_dev)
                continue;
        }
        if (St.st_nlink != 1) throw PlantedObject(AFileName);
        TLogFile R;
        R.FHandle = H.Release();
        R.FSize = St.st_size;
        return R;
    }
}

void TLogFile::Close() {
    if (FHandle >= 0) ::close(int(FHandle));  // also drops the flock
    FHandle = -1;
}

void TLogFile::Write(std::string_view ABytes, const std::string& AFileName) {
    while (!ABytes.empty()) {
        const ssize_t N = ::write(int(FHandle), ABytes.data(), ABytes.size());
        if (N < 0) {
            if (errno == EINTR) continue;
            throw ELogFileError("Не удалось записать в файл журнала", AFileName, errno);
        }
        ABytes.remove_prefix(size_t(N));
    }
}

// Creates the log directory with its missing parents. Parents get ordinary
// modes; a shared log directory gets 02770 whatever the umask: its group
// (new files inherit it) can create, append, rotate and purge log files,
// other accounts have no access. A directory that exists is left alone.
void CreateLogDirectory(const std::string& ADirectory, bool AShared) {
    const std::string Path = WithoutSlash(ADirectory);
    const fs::path Parent = PathFromUtf8(Path).parent_path();
    std::error_code Ec;
    if (!Parent.empty()) fs::create_directories(Parent, Ec);
    if (Ec) throw ELogFileError("Не удалось создать каталог журнала", Utf8FromPath(Parent), Ec.value());
    if (::mkdir(Path.c_str(), AShared ? 0770 : 0777) == 0) {
        if (AShared && ::chmod(Path.c_str(), 02770) != 0)
            throw ELogFileError("Не удалось открыть доступ к каталогу журнала", Path, errno);
        return;
    }
    const int Err = errno;
    struct stat St {};
    if (Err == EEXIST && ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode)) return;
    throw ELogFileError("Не удалось создать каталог журнала", Path, Err);
}

bool DirectoryExists(const std::string& ADirectory) {
    struct stat St {};
    return ::stat(ADirectory.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

void RemoveLogFile(const std::string& APath) {
    (void)::unlink(APath.c_str());
}

bool RenameLogFile(const std::string& AFrom, const std::string& ATo) {
    if (::renameat2(AT_FDCWD, AFrom.c_str(), AT_FDCWD, ATo.c_str(), RENAME_NOREPLACE) == 0) return true;
    // File systems without the no-replace rename: a hard link fails just as
    // well when the target exists.
    return errno == EINVAL && ::link(AFrom.c_str(), ATo.c_str()) == 0 && ::unlink(AFrom.c_str()) == 0;
}

}  // namespace fr
