#include <windows.h>

#include <stdexcept>

#include "v8host/uV8Library.h"

namespace fr::host {
namespace {

std::wstring Wide(const std::string& AUtf8) {
    const int N = MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), int(AUtf8.size()), nullptr, 0);
    std::wstring W(size_t(N), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), int(AUtf8.size()), W.data(), N);
    return W;
}

// The system's text for AError, in UTF-8.
std::string SystemText(DWORD AError) {
    wchar_t* Buf = nullptr;
    const DWORD N =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, AError, 0, reinterpret_cast<wchar_t*>(&Buf), 0, nullptr);
    std::string S = "error " + std::to_string(AError);
    if (N && Buf) {
        const int L = WideCharToMultiByte(CP_UTF8, 0, Buf, int(N), nullptr, 0, nullptr, nullptr);
        std::string T(size_t(L), '\0');
        WideCharToMultiByte(CP_UTF8, 0, Buf, int(N), T.data(), L, nullptr, nullptr);
        while (!T.empty() && (T.back() == '\n' || T.back() == '\r' || T.back() == ' ')) T.pop_back();
        S += ": " + T;
    }
    LocalFree(Buf);
    return S;
}

}  // namespace

TV8Library::TV8Library(const std::string& APath) : FHandle(LoadLibraryW(Wide(APath).c_str())) {
    if (!FHandle) throw std::runtime_error("cannot load component: " + APath + ": " + SystemText(GetLastError()));
}

TV8Library::~TV8Library() {
    FreeLibrary(static_cast<HMODULE>(FHandle));
}

void* TV8Library::Symbol(const char* AName) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), AName));
}

}  // namespace fr::host
