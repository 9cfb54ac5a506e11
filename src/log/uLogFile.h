// The log's files and folder as the operating system keeps them, behind one
// small seam: uLogFilePosix.cpp (open flags, flock, modes) and
// uLogFileWin32.cpp (share modes, reparse points, the folder's access list).
// Naming, rotation, purging and the per-user fall-back are uLog.cpp's, the
// same on both.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace fr {

// A failure to prepare or open a log file, with the system error that
// decides whether the per-user folder is worth a try (0: a refusal that no
// other folder mends).
class ELogFileError : public std::runtime_error {
public:
    ELogFileError(const std::string& AWhat, const std::string& APath, int AError);
    explicit ELogFileError(const std::string& AText) : std::runtime_error(AText), Errno(0) {}
    int Errno;  // the system's error code
};

// Something planted at the log file's name: refused where it stands. Moving
// to the per-user folder would let anybody who may write in the shared
// folder send the day's lines away from it.
ELogFileError PlantedObject(const std::string& APath);

// Error codes that mean "this account may not write there" and "no such
// file or folder".
bool IsAccessError(int AError);
bool IsMissingError(int AError);

// A log file open for appending, other writers kept out while it is open.
class TLogFile {
public:
    // Opens (or creates) AFileName for appending and keeps other writers out
    // (waiting at most a second for one that is appending). Never follows a
    // link or reparse point at the name and refuses anything but a plain file
    // with a single name, so nobody can redirect our lines into a file of
    // theirs. A file over AMaxSize may have been rotated away from the name
    // meanwhile: then the file that bears the name now is opened.
    static TLogFile OpenForAppend(const std::string& AFileName, int64_t AMaxSize);

    TLogFile(TLogFile&& O) noexcept;
    TLogFile& operator=(TLogFile&& O) noexcept;
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;
    ~TLogFile();

    int64_t Size() const { return FSize; }
    // Appends ABytes; raises ELogFileError naming AFileName.
    void Write(std::string_view ABytes, const std::string& AFileName);
    void Close();

private:
    TLogFile() = default;
    intptr_t FHandle = -1;  // a descriptor or a HANDLE; -1 when closed on both
    int64_t FSize = 0;
};

// Creates the log folder with its missing parents. A shared folder (the
// machine-wide one) is opened to every account that runs the host; a folder
// that exists is left alone.
void CreateLogDirectory(const std::string& ADirectory, bool AShared);
bool DirectoryExists(const std::string& ADirectory);
// Deletes a file; a file that stays is not reported.
void RemoveLogFile(const std::string& APath);
// Renames AFrom to ATo, never replacing an existing ATo; false when the
// file keeps its name.
bool RenameLogFile(const std::string& AFrom, const std::string& ATo);

// Moving and destroying are the same on every system; Close is the system's.
inline TLogFile::TLogFile(TLogFile&& O) noexcept : FHandle(std::exchange(O.FHandle, -1)), FSize(O.FSize) {}

inline TLogFile& TLogFile::operator=(TLogFile&& O) noexcept {
    if (this != &O) {
        Close();
        FHandle = std::exchange(O.FHandle, -1);
        FSize = O.FSize;
    }
    return *this;
}

inline TLogFile::~TLogFile() {
    Close();
}

}  // namespace fr
