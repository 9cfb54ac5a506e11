#include <aclapi.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "base/uSystem.h"
#include "log/uLogFile.h"

namespace fr {

namespace fs = std::filesystem;

bool IsAccessError(int AError) {
    return AError == ERROR_ACCESS_DENIED || AError == ERROR_WRITE_PROTECT;
}
bool IsMissingError(int AError) {
    return AError == ERROR_FILE_NOT_FOUND || AError == ERROR_PATH_NOT_FOUND;
}

namespace {

// How long a line waits for another process that is appending to the file.
constexpr auto ShareWaitLimit = std::chrono::seconds(1);

std::wstring Wide(const std::string& AUtf8) {
    const std::u16string U = Utf8ToUtf16(AUtf8);
    return std::wstring(U.begin(), U.end());
}

HANDLE Handle(intptr_t A) {
    return reinterpret_cast<HANDLE>(A);
}

// What stands at the name, without following a link or reparse point.
bool NamedObject(const std::wstring& AName, BY_HANDLE_FILE_INFORMATION& AInfo) {
    const HANDLE H =
        CreateFileW(AName.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (H == INVALID_HANDLE_VALUE) return false;
    const bool Ok = GetFileInformationByHandle(H, &AInfo) != 0;
    CloseHandle(H);
    return Ok;
}

bool IsPlainFile(DWORD AAttributes) {
    return (AAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Authenticated Users (S-1-5-11) get the modify right (read, write, create,
// delete; no permission or owner changes), inherited by sub-folders and
// files, so every account that runs the host can write the log. Nothing is
// changed when the folder has no access list (everybody may do everything)
// or one that already grants this.
void GrantLogFolderAccess(const std::string& APath) {
    const std::wstring Name = Wide(APath);
    PACL Dacl = nullptr;
    PSECURITY_DESCRIPTOR Sd = nullptr;
    DWORD R = GetNamedSecurityInfoW(Name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &Dacl,
                                    nullptr, &Sd);
    if (R != ERROR_SUCCESS) throw ELogFileError("Не удалось открыть доступ к каталогу журнала", APath, int(R));
    const std::unique_ptr<void, decltype(&LocalFree)> SdOwner(Sd, &LocalFree);
    if (!Dacl) return;

    BYTE SidBuf[SECURITY_MAX_SID_SIZE];
    DWORD SidSize = sizeof SidBuf;
    if (!CreateWellKnownSid(WinAuthenticatedUserSid, nullptr, SidBuf, &SidSize))
        throw ELogFileError("Не удалось открыть доступ к каталогу журнала", APath, int(GetLastError()));
    const PSID Users = SidBuf;
    constexpr DWORD Modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    constexpr BYTE Inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

    for (DWORD I = 0; I < Dacl->AceCount; ++I) {
        void* Ace = nullptr;
        if (!GetAce(Dacl, I, &Ace)) continue;
        const auto* Header = static_cast<const ACE_HEADER*>(Ace);
        if (Header->AceType != ACCESS_ALLOWED_ACE_TYPE || (Header->AceFlags & INHERIT_ONLY_ACE)) continue;
        const auto* Allowed = static_cast<const ACCESS_ALLOWED_ACE*>(Ace);
        const PSID Sid = const_cast<DWORD*>(&Allowed->SidStart);
        if (EqualSid(Sid, Users) && (Allowed->Mask & Modify) == Modify && (Header->AceFlags & Inherit) == Inherit)
            return;
    }

    EXPLICIT_ACCESSW Entry{};
    Entry.grfAccessPermissions = Modify;
    Entry.grfAccessMode = GRANT_ACCESS;
    Entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    Entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    Entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    Entry.Trustee.ptstrName = static_cast<LPWSTR>(Users);
    PACL NewDacl = nullptr;
    R = SetEntriesInAclW(1, &Entry, Dacl, &NewDacl);
    if (R != ERROR_SUCCESS) throw ELogFileError("Не удалось открыть доступ к каталогу журнала", APath, int(R));
    const std::unique_ptr<void, decltype(&LocalFree)> NewOwner(NewDacl, &LocalFree);
    R = SetNamedSecurityInfoW(const_cast<LPWSTR>(Name.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, NewDacl, nullptr);
    if (R != ERROR_SUCCESS) throw ELogFileError("Не удалось открыть доступ к каталогу журнала", APath, int(R));
}

}  // namespace

// Opens the file for appending, readers allowed, other writers kept out by
// the share mode (a writer that finds the file open waits up to a second).
// FILE_FLAG_OPEN_REPARSE_POINT opens a planted link or junction itself
// instead of its target; the handle then shows what was opened: a plain disk
// file with a single name, or a refusal.
TLogFile TLogFile::OpenForAppend(const std::string& AFileName, int64_t AMaxSize) {
    const std::wstring Name = Wide(AFileName);
    const auto Deadline = std::chrono::steady_clock::now() + ShareWaitLimit;
    for (int Attempt = 0;; ++Attempt) {
        const HANDLE H = CreateFileW(Name.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (H == INVALID_HANDLE_VALUE) {
            const DWORD E = GetLastError();
            if (E == ERROR_SHARING_VIOLATION) {
                if (std::chrono::steady_clock::now() >= Deadline)
                    throw ELogFileError("Файл журнала занят другим процессом:", AFileName, int(E));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            // A folder at the name cannot be opened as a file: it is refused
            // as planted, not taken for a lack of rights.
            BY_HANDLE_FILE_INFORMATION Info{};
            if (E == ERROR_ACCESS_DENIED && NamedObject(Name, Info) && !IsPlainFile(Info.dwFileAttributes))
                throw PlantedObject(AFileName);
            throw ELogFileError("Не удалось открыть файл журнала", AFileName, int(E));
        }
        TLogFile R;
        R.FHandle = reinterpret_cast<intptr_t>(H);
        BY_HANDLE_FILE_INFORMATION Info{};
        if (!GetFileInformationByHandle(H, &Info))
            throw ELogFileError("Не удалось открыть файл журнала", AFileName, int(GetLastError()));
        if (GetFileType(H) != FILE_TYPE_DISK || !IsPlainFile(Info.dwFileAttributes)) throw PlantedObject(AFileName);
        R.FSize = int64_t(uint64_t(Info.nFileSizeHigh) << 32 | Info.nFileSizeLow);
        // Only a file over the limit can have been rotated away from the name
        // while we opened it, so the name is looked at only then.
        if (R.FSize > AMaxSize && Attempt < 5) {
            BY_HANDLE_FILE_INFORMATION Named{};
            if (!NamedObject(Name, Named) || Named.nFileIndexHigh != Info.nFileIndexHigh ||
                Named.nFileIndexLow != Info.nFileIndexLow || Named.dwVolumeSerialNumber != Info.dwVolumeSerialNumber)
                continue;
        }
        if (Info.nNumberOfLinks != 1) throw PlantedObject(AFileName);
        return R;
    }
}

void TLogFile::Close() {
    if (FHandle != -1) CloseHandle(Handle(FHandle));
    FHandle = -1;
}

void TLogFile::Write(std::string_view ABytes, const std::string& AFileName) {
    while (!ABytes.empty()) {
        DWORD Written = 0;
        const DWORD Part = DWORD(std::min<size_t>(ABytes.size(), 1u << 30));
        if (!WriteFile(Handle(FHandle), ABytes.data(), Part, &Written, nullptr) || Written == 0)
            throw ELogFileError("Не удалось записать в файл журнала", AFileName, int(GetLastError()));
        ABytes.remove_prefix(Written);
    }
}

void CreateLogDirectory(const std::string& ADirectory, bool AShared) {
    const std::string Path = WithoutSlash(ADirectory);
    const fs::path Parent = PathFromUtf8(Path).parent_path();
    std::error_code Ec;
    if (!Parent.empty()) fs::create_directories(Parent, Ec);
    if (Ec) throw ELogFileError("Не удалось создать каталог журнала", Utf8FromPath(Parent), Ec.value());
    if (CreateDirectoryW(Wide(Path).c_str(), nullptr)) {
        if (AShared) GrantLogFolderAccess(Path);
        return;
    }
    const DWORD Err = GetLastError();
    if (Err == ERROR_ALREADY_EXISTS && DirectoryExists(Path)) return;
    throw ELogFileError("Не удалось создать каталог журнала", Path, int(Err));
}

bool DirectoryExists(const std::string& ADirectory) {
    const DWORD A = GetFileAttributesW(Wide(ADirectory).c_str());
    return A != INVALID_FILE_ATTRIBUTES && (A & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void RemoveLogFile(const std::string& APath) {
    (void)DeleteFileW(Wide(APath).c_str());
}

bool RenameLogFile(const std::string& AFrom, const std::string& ATo) {
    // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced.
    return MoveFileExW(Wide(AFrom).c_str(), Wide(ATo).c_str(), 0) != 0;
}

}  // namespace fr
