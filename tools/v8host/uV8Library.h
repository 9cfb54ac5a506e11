// The component library loaded into the host's process, as the platform
// loads it: dlopen on Linux, LoadLibraryW on Windows (uV8LibraryPosix.cpp,
// uV8LibraryWin32.cpp).
#pragma once

#include <string>

namespace fr::host {

class TV8Library {
public:
    // Raises std::runtime_error with the loader's text when it cannot load APath (UTF-8).
    explicit TV8Library(const std::string& APath);
    ~TV8Library();
    TV8Library(const TV8Library&) = delete;
    TV8Library& operator=(const TV8Library&) = delete;

    // The exported function AName; null when there is none.
    void* Symbol(const char* AName) const;

private:
    void* FHandle = nullptr;
};

}  // namespace fr::host
