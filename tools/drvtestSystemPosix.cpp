// drvtest on Linux: its arguments as the shell gives them, and the serial
// ports the driver opens by number (/dev/com<n>, else /dev/ttyS<n-1>) with
// whether this account may open them and how to fix it when not.
#include <glob.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "drvtestSystem.h"

namespace {


// The number the driver would give a device: the n of a /dev/com<n> link
// that leads to it, 0 when none does.
int ComNumberOf(const std::string& ADevice) {
    char Real[PATH_MAX];
    if (!realpath(ADevice.c_str(), Real)) return 0;
    for (int N = 1; N <= 128; ++N) {
        char Other[PATH_MAX];
        const std::string Com = "/dev/com" + std::to_string(N);
        if (realpath(Com.c_str(), Other) && std::strcmp(Real, Other) == 0) return N;
    }
    return 0;
}

std::string ReadLine(const std::string& APath) {
    std::ifstream F(APath);
    std::string L;
    std::getline(F, L);
    return L;
}

// A /dev/ttyS<k> node exists for every UART slot the kernel reserves; the
// kernel reports port type 0 where no chip answers.
bool HasUart(const std::string& ATtyName) {
    const std::string Type = ReadLine("/sys/class/tty/" + ATtyName + "/type");
    return Type.empty() || Type != "0";
}

// Vendor and product numbers of the USB device behind a tty, for a udev rule.
std::pair<std::string, std::string> UsbIds(const std::string& ATtyName) {
    char Real[PATH_MAX];
    const std::string Dev = "/sys/class/tty/" + ATtyName + "/device";
    if (!realpath(Dev.c_str(), Real)) return {};
    std::string Dir = Real;
    for (int Up = 0; Up < 4 && Dir.size() > 1; ++Up) {
        const std::string Vendor = ReadLine(Dir + "/idVendor");
        if (!Vendor.empty()) return {Vendor, ReadLine(Dir + "/idProduct")};
        Dir = Dir.substr(0, Dir.rfind('/'));
    }
    return {};
}

bool AccountInGroup(gid_t AGid, const std::string& AUser, gid_t APrimary) {
    if (AGid == APrimary) return true;
    const group* G = getgrgid(AGid);
    if (!G) return false;
    for (char** M = G->gr_mem; M && *M; ++M)
        if (AUser == *M) return true;
    return false;
}

// "can open", or why not and the one command that fixes it.
std::string AccessText(const std::string& APath) {
    if (access(APath.c_str(), R_OK | W_OK) == 0) return "can open";
    if (errno != EACCES) return std::string("cannot open: ") + std::strerror(errno);
    struct stat St{};
    if (stat(APath.c_str(), &St) != 0) return std::string("cannot open: ") + std::strerror(errno);
    const passwd* Pw = getpwuid(getuid());
    const std::string User = Pw ? Pw->pw_name : std::to_string(getuid());
    const gid_t Primary = Pw ? Pw->pw_gid : getgid();
    const group* G = getgrgid(St.st_gid);
    const std::string Group = G ? G->gr_name : std::to_string(St.st_gid);
    if ((St.st_mode & 060) == 060) {
        if (AccountInGroup(St.st_gid, User, Primary))
            return "cannot open yet: " + User + " is in group " + Group + "; log in again";
        return "cannot open: fix with  sudo usermod -aG " + Group + " " + User + "  (then log in again)";
    }
    return "cannot open: the port is not open to a group (" + Group +
           "); give it GROUP=\"dialout\", MODE=\"0660\" with a udev rule, then  sudo usermod -aG dialout " + User;
}

}  // namespace

void RunPorts() {
    int Found = 0;
    std::printf("Serial ports the driver opens by number (setting PortNumber):\n");
    for (int N = 1; N <= 128; ++N) {
        const std::string Com = "/dev/com" + std::to_string(N);
        std::string Path = Com, Shown = Com;
        if (access(Com.c_str(), F_OK) == 0) {
            char Real[PATH_MAX];
            if (realpath(Com.c_str(), Real) && Com != Real) Shown = Com + " -> " + Real;
        } else {
            Path = Shown = "/dev/ttyS" + std::to_string(N - 1);
            if (access(Path.c_str(), F_OK) != 0 || !HasUart("ttyS" + std::to_string(N - 1))) continue;
        }
        ++Found;
        std::printf("  %3d  %s  %s\n", N, Pad(Shown, 32).c_str(), AccessText(Path).c_str());
    }
    glob_t G{};
    std::vector<std::string> Usb;
    for (const char* Pattern : {"/dev/ttyUSB*", "/dev/ttyACM*"}) {
        if (glob(Pattern, 0, nullptr, &G) == 0)
            for (size_t I = 0; I < G.gl_pathc; ++I) Usb.push_back(G.gl_pathv[I]);
        globfree(&G);
    }
    if (!Usb.empty()) std::printf("USB serial ports:\n");
    for (const auto& Path : Usb) {
        ++Found;
        const int N = ComNumberOf(Path);
        std::printf("  %3s  %s  %s\n", N ? std::to_string(N).c_str() : "-", Pad(Path, 32).c_str(),
                    AccessText(Path).c_str());
        if (N) continue;
        const auto [Vendor, Product] = UsbIds(Path.substr(5));
        std::printf(
            "       no number yet: a udev rule gives it one, e.g. in /etc/udev/rules.d/99-kkt.rules\n"
            "       SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"%s\", ATTRS{idProduct}==\"%s\", "
            "SYMLINK+=\"com<n>\", MODE=\"0660\", GROUP=\"dialout\"\n",
            Vendor.empty() ? "<vendor>" : Vendor.c_str(), Product.empty() ? "<product>" : Product.c_str());
    }
    if (!Found) std::printf("  none found\n");
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareOutput() {}
