// Facts about the running library and system that the log header shows.
#pragma once

#include <string>
#include <string_view>

namespace fr {

// Full path of the file that holds this code (the shared library, or the
// executable when the code is linked statically into one).
std::string LibraryFileName();
// The library's version as "major.minor.release.build".
std::string LibraryVersion();
// The distribution's pretty name and the kernel release:
// "Debian GNU/Linux 12 (bookworm) (6.1.0-18-amd64)".
std::string OSDescription();

// The value of PRETTY_NAME in the text of an os-release file, unquoted and
// unescaped; empty when absent.
std::string OSReleasePrettyName(std::string_view AOsRelease);
// "<name> (<kernel release>)", with "Linux" for an empty name and without
// the parenthesis when the release is unknown.
std::string ComposeOSDescription(std::string_view APrettyName, std::string_view AKernelRelease);

}  // namespace fr
