#include "base/uSystem.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "base/uCommonUtils.h"

namespace fr {

bool IsAbsolutePath(std::string_view APath) {
    return !APath.empty() && APath.front() == '/';
}

std::string PortablePath(std::string APath) {
    return APath;
}

std::string NativePath(std::string APath) {
    return APath;
}

int LastSystemError() {
    return errno;
}

std::string SystemErrorText(int ACode) {
    return std::strerror(ACode);
}

bool LocalTimeOf(time_t ATime, struct tm& AResult) {
    return localtime_r(&ATime, &AResult) != nullptr;
}

bool CreatePrivateFolder(const std::string& APath) {
    return ::mkdir(APath.c_str(), 0700) == 0;
}

std::string CommonAppDataFolder() {
    const char* E = std::getenv("FR_ORVALEN1C8X3N_DATA_DIR");
    // A relative folder would depend on the host's working directory.
    return WithSlash((E && E[0] == '/') ? std::string(E) : std::string("/var/lib"));
}

std::string UserAppDataFolder() {
    const char* Xdg = std::getenv("XDG_DATA_HOME");
    if (Xdg && Xdg[0] == '/') return WithSlash(Xdg);
    std::string Home;
    if (const char* H = std::getenv("HOME"); H && H[0] == '/') {
        Home = H;
    } else {
        struct passwd Pw {};
        struct passwd* Res = nullptr;
        std::vector<char> Buf(16384);
        if (getpwuid_r(getuid(), &Pw, Buf.data(), Buf.size(), &Res) == 0 && Res && Res->pw_dir && Res->pw_dir[0] == '/')
            Home = Res->pw_dir;
    }
    if (Home.empty()) throw std::runtime_error("Не удалось определить папку данных пользователя");
    return WithSlash(WithoutSlash(Home)) + ".local/share/";
}

int64_t LocalNow() {
    const time_t T = time(nullptr);
    struct tm L {};
    localtime_r(&T, &L);
    return int64_t(T) + L.tm_gmtoff;
}

std::string CreateGUIDString() {
    uuid_t Id;
    uuid_generate(Id);
    char Text[37];
    uuid_unparse_upper(Id, Text);
    return Text;
}

}  // namespace fr
