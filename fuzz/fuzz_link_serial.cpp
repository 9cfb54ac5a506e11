// The serial framing fed by a fuzzed device: the port reads the device's
// bytes from the far end of a socket pair, closed after them (a hung-up
// line), and the driver runs three commands over it as one session would.
// A socket pair is not a terminal, so the purge before each enquiry drops
// nothing: every byte the device sent reaches the framing.
#include <sys/socket.h>
#include <unistd.h>

#include "FuzzCommon.h"
#include "link/uComProtocol.h"

namespace {

class TFuzzPort : public fr::TComPort {
public:
    explicit TFuzzPort(int AFd) { AdoptHandle(AFd); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    int Pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, Pair) != 0) return 0;
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
        TFuzzPort Port(Pair[0]);  // the port closes its end
        fr::TComProtocol Link(Port);
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
