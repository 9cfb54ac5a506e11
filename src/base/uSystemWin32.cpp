#include "base/uSystem.h"

// Before the shell's header, which defines CSIDL_APPDATA and
// CSIDL_COMMON_APPDATA as macros.
#include "base/uCommonUtils.h"
#include "base/uStrings.h"

#include <rpc.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <iterator>
#include <stdexcept>

namespace fr {

namespace {

std::string FromWide(const wchar_t* AText) {
    std::u16string S;
    for (; AText && *AText; ++AText) S += char16_t(*AText);
    return Utf16ToUtf8(S);
}

// The value of an environment variable, empty when it is not set.
std::string EnvironmentValue(const wchar_t* AName) {
    wchar_t Buf[32768];
    const DWORD N = GetEnvironmentVariableW(AName, Buf, DWORD(std::size(Buf)));
    if (N == 0 || N >= std::size(Buf)) return {};
    return FromWide(Buf);
}

// A known folder of the shell with "/" separators and a trailing "/", or
// empty when the system cannot give it.
std::string KnownFolder(REFKNOWNFOLDERID AId) {
    PWSTR Path = nullptr;
    std::string Result;
    if (SUCCEEDED(SHGetKnownFolderPath(AId, KF_FLAG_CREATE, nullptr, &Path)) && Path) Result = FromWide(Path);
    CoTaskMemFree(Path);
    return Result.empty() ? Result : WithSlash(PortablePath(Result));
}

}  // namespace

bool IsAbsolutePath(std::string_view APath) {
    const auto Sep = [](char C) { return C == '/' || C == '\\'; };
    if (APath.size() >= 3 && APath[1] == ':' && Sep(APath[2]) &&
        ((APath[0] >= 'A' && APath[0] <= 'Z') || (APath[0] >= 'a' && APath[0] <= 'z')))
        return true;
    return APath.size() >= 2 && Sep(APath[0]) && Sep(APath[1]);
}

std::string PortablePath(std::string APath) {
    for (char& C : APath)
        if (C == '\\') C = '/';
    return APath;
}

std::string NativePath(std::string APath) {
    for (char& C : APath)
        if (C == '/') C = '\\';
    return APath;
}

int LastSystemError() {
    return int(GetLastError());
}

std::string SystemErrorText(int ACode) {
    wchar_t* Text = nullptr;
    const DWORD N =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, DWORD(ACode), 0, reinterpret_cast<wchar_t*>(&Text), 0, nullptr);
    std::string Result = N && Text ? FromWide(Text) : std::string();
    LocalFree(Text);
    // The system ends its texts with a line break.
    while (!Result.empty() && (Result.back() == '\n' || Result.back() == '\r' || Result.back() == ' '))
        Result.pop_back();
    if (Result.empty()) Result = "Системная ошибка " + std::to_string(unsigned(ACode));
    return Result;
}

bool LocalTimeOf(time_t ATime, struct tm& AResult) {
    return localtime_s(&AResult, &ATime) == 0;
}

bool CreatePrivateFolder(const std::string& APath) {
    const std::u16string W = Utf8ToUtf16(APath);
    return CreateDirectoryW(std::wstring(W.begin(), W.end()).c_str(), nullptr) != 0;
}

std::string CommonAppDataFolder() {
    // The same override as on Linux: tests and read-only systems keep their
    // files elsewhere.
    const std::string E = PortablePath(EnvironmentValue(L"FR_ORVALEN1C8X3N_DATA_DIR"));
    if (IsAbsolutePath(E)) return WithSlash(E);
    const std::string Common = KnownFolder(FOLDERID_ProgramData);
    return Common.empty() ? UserAppDataFolder() : Common;
}

std::string UserAppDataFolder() {
    const std::string User = KnownFolder(FOLDERID_RoamingAppData);
    if (User.empty()) throw std::runtime_error("Не удалось определить папку данных пользователя");
    return User;
}

int64_t LocalNow() {
    SYSTEMTIME Local{};
    GetLocalTime(&Local);
    FILETIME F{};
    if (!SystemTimeToFileTime(&Local, &F)) return int64_t(time(nullptr));
    // 100-nanosecond steps since 1601-01-01, read as if the local time were UTC.
    const uint64_t Ticks = uint64_t(F.dwHighDateTime) << 32 | F.dwLowDateTime;
    return int64_t(Ticks / 10000000) - 11644473600LL;
}

std::string CreateGUIDString() {
    UUID Id{};
    // RPC_S_UUID_LOCAL_ONLY is still unique on this computer, which is all
    // a session identifier needs.
    const RPC_STATUS S = UuidCreate(&Id);
    if (S != RPC_S_OK && S != RPC_S_UUID_LOCAL_ONLY) throw std::runtime_error(SystemErrorText(int(S)));
    char Text[40];
    std::snprintf(Text, sizeof Text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(Id.Data1), unsigned(Id.Data2), unsigned(Id.Data3), Id.Data4[0],
                  Id.Data4[1], Id.Data4[2], Id.Data4[3], Id.Data4[4], Id.Data4[5], Id.Data4[6], Id.Data4[7]);
    return Text;
}

}  // namespace fr
