// Facts about the running library and system that the log header shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fr {

// Full path of the file that holds this code (the shared library, or the
// executable when the code is linked statically into one).
std::string LibraryFileName();
// The library's version as "major.minor.release.build".
std::string LibraryVersion();
// The operating system for the log header: on Linux the distribution's
// pretty name and the kernel release, "Debian GNU/Linux 12 (bookworm)
// (6.1.0-18-amd64)"; on Windows the name of the real version (not the one
// an application without a manifest is told) and its numbers,
// "Windows 10 (10.0.19045)".
std::string OSDescription();

// The value of PRETTY_NAME in the text of an os-release file, unquoted and
// unescaped; empty when absent.
std::string OSReleasePrettyName(std::string_view AOsRelease);
// "<name> (<kernel release>)", with "Linux" for an empty name and without
// the parenthesis when the release is unknown.
std::string ComposeOSDescription(std::string_view APrettyName, std::string_view AKernelRelease);

// The Windows form: the name for the version, the service pack and a space
// when there is one, then "(major.minor.build)"; "Unknown" for a version
// without a name (Windows 11 reports 10.0 with a build from 22000 on).
std::string ComposeWindowsDescription(uint32_t AMajor, uint32_t AMinor, uint32_t ABuild, bool ANTPlatform,
                                      std::string_view AServicePack);

}  // namespace fr
