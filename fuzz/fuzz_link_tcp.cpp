// The TCP framing fed by a fuzzed device: the device's bytes wait on the far
// end of a connected socket pair, closed after them, and the driver runs
// three commands (one- and two-byte codes, with and without an answer) over
// the same connection, as one session would.
#include <sys/socket.h>
#include <unistd.h>

#include "FuzzCommon.h"
#include "link/uSocketProtocol.h"

namespace {

class TFuzzSocket : public fr::TSocketProtocol {
public:
    explicit TFuzzSocket(int AFd) { AdoptSocket(AFd); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    int Pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Pair) != 0) return 0;
    fr::fuzz::TInput In(AData, ASize);
    const uint8_t Flags = In.Byte();
    const std::string Device = In.Rest();
    if (!Device.empty() && ::send(Pair[1], Device.data(), Device.size(), MSG_NOSIGNAL) != ssize_t(Device.size())) {
        close(Pair[0]);
        close(Pair[1]);
        return 0;
    }
    shutdown(Pair[1], SHUT_WR);
    {
        TFuzzSocket Link(Pair[0]);
        const std::string Pwd("\x1e\0\0\0", 4);
        std::string Answer;
        Link.RunCommand(Answer, Pwd, "\x10", "", 0, true, (Flags & 1) == 0);
        Link.RunCommand(Answer, Pwd, std::string("\xff\x01", 2), std::string(Flags >> 4, 'D'), 0, true, true);
        Link.RunCommand(Answer, Pwd, "\xfc", "", 0, (Flags & 2) != 0, true);
        (void)Link.LastResultDescription();
    }
    close(Pair[1]);
    return 0;
}
