// One complete exchange (ENQ, NAK, frame, ACK, answer frame, ACK) against a
// device that answers at once, over a pseudo-terminal and over loopback TCP.
// The counter "median_us" is the median of the single exchanges.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "link/LinkPeers.h"
#include "link/uComProtocol.h"
#include "link/uSocketProtocol.h"

namespace {

using namespace fr::test;

const std::string Pwd("\x1E\x00\x00\x00", 4);
const std::string Answer = MakeFrame(std::string("\x11\x00\x01\x02\x03\x04", 6));

// Serves exchanges until the driver side goes away.
void ServeForever(TPeerIO& P) {
    const std::string Reply = std::string(1, ACK) + Answer;
    for (;;) {
        if (P.ReadByte(2000) != ENQ) return;
        P.Write(std::string(1, NAK));
        if (P.ReadFrame(2000).size() < 3) return;
        P.Write(Reply);
        if (P.ReadByte(2000) != ACK) return;
    }
}

template <class F>
void RunExchanges(benchmark::State& State, F Exchange) {
    std::vector<double> Us;
    Us.reserve(100000);
    for (auto _ : State) {
        const auto T0 = std::chrono::steady_clock::now();
        if (Exchange() != 0) {
            State.SkipWithError("exchange failed");
            break;
        }
        Us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - T0).count());
    }
    if (!Us.empty()) {
        std::nth_element(Us.begin(), Us.begin() + Us.size() / 2, Us.end());
        State.counters["median_us"] = Us[Us.size() / 2];
    }
}

void BM_ExchangePty(benchmark::State& State) {
    TPty Pty;
    fr::TComPort Port;
    Port.SetDevicePath(Pty.SlavePath);
    if (!Port.Open()) {
        State.SkipWithError(Port.ExtResultDescription().c_str());
        return;
    }
    fr::TComProtocol Protocol(Port);
    TScriptedPeer Peer([&] { ServeForever(Pty.Master); });
    std::string R;
    RunExchanges(State, [&] { return Protocol.RunCommand(R, Pwd, "\x11", "", 0, true, true); });
    Port.Close();
    Peer.Join();
}
BENCHMARK(BM_ExchangePty)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

void BM_ExchangeTcp(benchmark::State& State) {
    TTcpListener Listener;
    fr::TSocketProtocol Protocol;
    if (Protocol.Connect("127.0.0.1", Listener.Port) != 0) {
        State.SkipWithError(Protocol.LastResultDescription().c_str());
        return;
    }
    TPeerIO Conn(Listener.Accept());
    TScriptedPeer Peer([&] { ServeForever(Conn); });
    std::string R;
    RunExchanges(State, [&] { return Protocol.RunCommand(R, Pwd, "\x11", "", 0, true, true); });
    Protocol.Disconnect();
    Peer.Join();
}
BENCHMARK(BM_ExchangeTcp)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
