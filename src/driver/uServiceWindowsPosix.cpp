#include "driver/uServiceWindows.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "resources/uResources.h"

namespace fr {

namespace {

const char kLoadFailed[] =
    "Не удалось загрузить модуль окон драйвера. Для окон нужна библиотека GTK 3 "
    "(пакеты libgtk-3-0, libzip4). Подробности: ";

bool WriteAll(int AFd, std::string_view ABytes) {
    while (!ABytes.empty()) {
        const ssize_t N = ::write(AFd, ABytes.data(), ABytes.size());
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        ABytes.remove_prefix(size_t(N));
    }
    return true;
}

std::string DlError() {
    const char* E = ::dlerror();
    return E ? E : "неизвестная ошибка";
}

// Loads the module from an anonymous memory file, so it is found wherever
// the platform unpacked the library; where memory files are not allowed to
// hold code, from a private temporary file removed at once.
void* LoadModule(std::string_view AImage) {
    std::string Error;
    const int Fd = ::memfd_create("fr_orvalen1c8x3n_windows", MFD_CLOEXEC);
    if (Fd >= 0) {
        if (WriteAll(Fd, AImage)) {
            const std::string Path = "/proc/self/fd/" + std::to_string(Fd);
            void* H = ::dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!H) Error = DlError();
            ::close(Fd);
            if (H) return H;
        } else {
            ::close(Fd);
        }
    }
    // The second way: an ordinary file in a folder only this account can read.
    std::error_code Ec;
    const std::filesystem::path Dir = std::filesystem::temp_directory_path(Ec);
    if (Ec) throw std::runtime_error(kLoadFailed + (Error.empty() ? Ec.message() : Error));
    std::string Template = (Dir / "fr_orvalen1c8x3n_windows_XXXXXX").string();
    const int Tmp = ::mkstemp(Template.data());
    if (Tmp < 0) throw std::runtime_error(kLoadFailed + (Error.empty() ? std::strerror(errno) : Error));
    const bool Written = WriteAll(Tmp, AImage);
    ::close(Tmp);
    void* H = Written ? ::dlopen(Template.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!H && Written) Error = DlError();
    ::unlink(Template.c_str());
    if (!H) throw std::runtime_error(kLoadFailed + (Error.empty() ? "не удалось записать модуль" : Error));
    return H;
}

TFrWindowsRun ModuleEntry() {
    // GTK cannot be unloaded safely, so the module stays for the life of the
    // process once it was loaded.
    static std::mutex Lock;
    static TFrWindowsRun Entry = nullptr;
    std::lock_guard<std::mutex> Guard(Lock);
    if (Entry) return Entry;
    const std::string_view* Image = FindResource("windows");
    if (!Image || Image->empty()) throw std::runtime_error(ServiceWindowsNotShippedText);
    void* H = LoadModule(*Image);
    Entry = reinterpret_cast<TFrWindowsRun>(::dlsym(H, FR_WINDOWS_ENTRY));
    if (!Entry) throw std::runtime_error(kLoadFailed + DlError());
    return Entry;
}

bool HaveDisplay() {
    for (const char* Name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* V = std::getenv(Name);
        if (V && *V) return true;
    }
    return false;
}

}  // namespace

TFrWindowsRun ServiceWindowsEntry(const TFrWindowRequest& ARequest) {
    // A process without a graphical session (a server, a service) never
    // loads GTK at all.
    if (!HaveDisplay())
        throw std::runtime_error(NoDesktopText(ARequest) + " (не задана переменная DISPLAY или WAYLAND_DISPLAY)");
    return ModuleEntry();
}

}  // namespace fr
