// What base needs from the operating system, behind one small seam:
// uSystemPosix.cpp on Linux, uSystemWin32.cpp on Windows. The folders, the
// local clock and GUIDs of uCommonUtils.h come from there too.
//
// Paths inside the library are UTF-8 with "/" between folders on every
// system; Windows accepts "/" wherever it accepts "\", and the seam turns the
// system's own "\" into "/" where a path comes in.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace fr {

// Whether APath names a place without depending on the working folder: "/..."
// on Linux; "X:/...", "X:\...", "//server/..." or "\\server\..." on Windows.
bool IsAbsolutePath(std::string_view APath);
// APath with the system's own folder separators turned into "/".
std::string PortablePath(std::string APath);
// APath as the system writes it to people: "\" between folders on Windows.
std::string NativePath(std::string APath);

// The calling thread's last system error (errno, GetLastError) and the
// system's text for an error code, as UTF-8.
int LastSystemError();
std::string SystemErrorText(int ACode);

// The local calendar time of ATime; false when the system cannot give it.
bool LocalTimeOf(time_t ATime, struct tm& AResult);

// Creates the folder APath (UTF-8) for this account alone: mode 0700 on
// Linux; on Windows the access of its parent, the account's own temporary
// folder. False, with LastSystemError set, when it cannot be created or
// already exists.
bool CreatePrivateFolder(const std::string& APath);

// std::filesystem paths from and to the library's UTF-8 paths (a plain
// std::string would be read in the system's ANSI code page on Windows).
inline std::filesystem::path PathFromUtf8(std::string_view APath) {
    return std::filesystem::path(std::u8string(APath.begin(), APath.end()));
}
inline std::string Utf8FromPath(const std::filesystem::path& APath) {
    const std::u8string S = APath.generic_u8string();
    return std::string(S.begin(), S.end());
}

}  // namespace fr
