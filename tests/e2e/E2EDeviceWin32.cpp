#include <iphlpapi.h>
#include <psapi.h>
#include <windows.h>
#include <winsock2.h>

#include <vector>

#include "E2EDevice.h"

// The emulator makes the link in the Wine prefix's dosdevices folder, which
// the test program does not need to write.
const char* ComLinkUnavailable() {
    return nullptr;
}

// The file is open without sharing, so no other process can open it, and it
// goes with its last handle.
bool TComNumber::Hold(const std::filesystem::path& ALock) {
    const HANDLE H = CreateFileW(ALock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (H == INVALID_HANDLE_VALUE) return false;
    FHandle = reinterpret_cast<intptr_t>(H);
    return true;
}

void TComNumber::Release() {
    if (FHandle != -1) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
    FHandle = -1;
}

bool TComNumber::PortExists(int N) {
    wchar_t Target[512];
    return QueryDosDeviceW((L"COM" + std::to_wstring(N)).c_str(), Target, 512) != 0;
}

int TComNumber::ProcessNumber() {
    return int(GetCurrentProcessId());
}

// The table is the whole machine's: it may grow between asking its size and
// reading it, so the read is repeated with the size the system asks for.
int ClientConnections(uint16_t APort) {
    std::vector<char> Buf(sizeof(MIB_TCPTABLE));
    ULONG Size = ULONG(Buf.size());
    DWORD Result = ERROR_INSUFFICIENT_BUFFER;
    for (int Try = 0; Try < 10 && Result == ERROR_INSUFFICIENT_BUFFER; ++Try) {
        if (Size > Buf.size()) Buf.resize(Size + 16 * sizeof(MIB_TCPROW));
        Size = ULONG(Buf.size());
        Result = GetTcpTable(reinterpret_cast<MIB_TCPTABLE*>(Buf.data()), &Size, FALSE);
    }
    if (Result != NO_ERROR) return -1;
    const auto* T = reinterpret_cast<const MIB_TCPTABLE*>(Buf.data());
    int N = 0;
    for (DWORD I = 0; I < T->dwNumEntries; ++I)
        if (T->table[I].dwState == MIB_TCP_STATE_ESTAB && ntohs(u_short(T->table[I].dwRemotePort)) == APort) ++N;
    return N;
}

long ResidentMemoryKb() {
    PROCESS_MEMORY_COUNTERS C{};
    C.cb = sizeof C;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &C, sizeof C)) return 0;
    return long(C.WorkingSetSize / 1024);
}
