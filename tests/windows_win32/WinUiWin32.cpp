#include "windows_win32/WinUiWin32.h"

#include <windows.h>
// After <windows.h>, which the common controls' header needs first.
#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "base/uStrings.h"
#include "base/uSystem.h"

namespace winui {

namespace {

HWND H(THandle A) {
    return reinterpret_cast<HWND>(A);
}
THandle T(HWND A) {
    return reinterpret_cast<THandle>(A);
}

std::wstring Wide(const std::string& S) {
    const std::u16string U = fr::Utf8ToUtf16(S);
    return std::wstring(U.begin(), U.end());
}
std::string Utf8(const std::wstring& S) {
    return fr::Utf16ToUtf8(std::u16string(S.begin(), S.end()));
}

std::string ClassOf(HWND AWindow) {
    wchar_t Buf[256] = {};
    GetClassNameW(AWindow, Buf, int(std::size(Buf)));
    return Utf8(Buf);
}

void Pause(int AMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(AMs));
}

struct TSearch {
    std::string Title, Class;
    HWND Found = nullptr;
};

BOOL CALLBACK OnTopWindow(HWND AWindow, LPARAM AParam) {
    auto& S = *reinterpret_cast<TSearch*>(AParam);
    DWORD Pid = 0;
    GetWindowThreadProcessId(AWindow, &Pid);
    if (Pid != GetCurrentProcessId() || !IsWindowVisible(AWindow)) return TRUE;
    if (Text(T(AWindow)) != S.Title || (!S.Class.empty() && ClassOf(AWindow) != S.Class)) return TRUE;
    S.Found = AWindow;
    return FALSE;
}

BOOL CALLBACK OnAnyWindow(HWND AWindow, LPARAM AParam) {
    auto& S = *reinterpret_cast<TSearch*>(AParam);
    if (!IsWindowVisible(AWindow) || Text(T(AWindow)).find(S.Title) == std::string::npos) return TRUE;
    S.Found = AWindow;
    return FALSE;
}

HWND FindNow(const std::string& ATitle, const std::string& AClass) {
    TSearch S{ATitle, AClass};
    EnumWindows(OnTopWindow, reinterpret_cast<LPARAM>(&S));
    return S.Found;
}

LPARAM Point(const RECT& R) {
    return MAKELPARAM((R.left + R.right) / 2, (R.top + R.bottom) / 2);
}

}  // namespace

void SetEnv(const std::string& AName, const std::string& AValue) {
    SetEnvironmentVariableW(Wide(AName).c_str(), Wide(AValue).c_str());
}

THandle CreateHostWindow() {
    WNDCLASSW Class{};
    Class.lpfnWndProc = DefWindowProcW;
    Class.hInstance = GetModuleHandleW(nullptr);
    Class.lpszClassName = L"fr_test_host";
    Class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&Class);
    HWND W = CreateWindowExW(0, L"fr_test_host", L"1С:Предприятие", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 1200, 740,
                             nullptr, nullptr, Class.hInstance, nullptr);
    SetForegroundWindow(W);
    SetActiveWindow(W);
    MSG M;
    for (int I = 0; I < 20; ++I) {
        while (PeekMessageW(&M, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&M);
            DispatchMessageW(&M);
        }
        Pause(10);
    }
    return T(W);
}

void DestroyWindow(THandle AWindow) {
    ::DestroyWindow(H(AWindow));
}

THandle FindAnyWindowWith(const std::string& AText, int AWaitMs) {
    for (int Waited = 0;; Waited += 100) {
        TSearch S{AText, ""};
        EnumWindows(OnAnyWindow, reinterpret_cast<LPARAM>(&S));
        if (S.Found) return T(S.Found);
        if (Waited >= AWaitMs) return 0;
        Pause(100);
    }
}

intptr_t Send(THandle AWindow, unsigned AMessage, uintptr_t AWParam, intptr_t ALParam) {
    DWORD_PTR Result = 0;
    SendMessageTimeoutW(H(AWindow), AMessage, WPARAM(AWParam), LPARAM(ALParam), SMTO_NORMAL, 10000, &Result);
    return intptr_t(Result);
}

THandle FindTopWindow(const std::string& ATitle, int AWaitMs, const std::string& AClass) {
    for (int Waited = 0;; Waited += 100) {
        if (HWND W = FindNow(ATitle, AClass)) return T(W);
        if (Waited >= AWaitMs) return 0;
        Pause(100);
    }
}

bool WaitGone(const std::string& ATitle, int AWaitMs) {
    for (int Waited = 0;; Waited += 100) {
        if (!FindNow(ATitle, "")) return true;
        if (Waited >= AWaitMs) return false;
        Pause(100);
    }
}

std::vector<THandle> Children(THandle AParent, const std::string& AClass, bool AVisible) {
    std::vector<HWND> Found;
    for (HWND C = GetWindow(H(AParent), GW_CHILD); C; C = GetWindow(C, GW_HWNDNEXT))
        if (lstrcmpiW(Wide(ClassOf(C)).c_str(), Wide(AClass).c_str()) == 0 && (!AVisible || IsWindowVisible(C)))
            Found.push_back(C);
    std::sort(Found.begin(), Found.end(), [](HWND A, HWND B) { return GetDlgCtrlID(A) < GetDlgCtrlID(B); });
    std::vector<THandle> Result;
    for (HWND C : Found) Result.push_back(T(C));
    return Result;
}

THandle Button(THandle AParent, const std::string& AText) {
    for (THandle B : Children(AParent, "Button"))
        if (Text(B) == AText) return B;
    return 0;
}

// Read without a message, so that a window whose thread waits for this one
// (a test joining its operator) cannot block it.
std::string Text(THandle AWindow) {
    wchar_t Buf[1024] = {};
    return Utf8(std::wstring(Buf, size_t(InternalGetWindowText(H(AWindow), Buf, int(std::size(Buf))))));
}

std::string Contents(THandle AControl) {
    DWORD_PTR Length = 0;
    SendMessageTimeoutW(H(AControl), WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &Length);
    std::wstring S(size_t(Length) + 1, L'\0');
    DWORD_PTR Copied = 0;
    SendMessageTimeoutW(H(AControl), WM_GETTEXT, WPARAM(S.size()), LPARAM(S.data()), SMTO_NORMAL, 10000, &Copied);
    S.resize(size_t(Copied));
    return Utf8(S);
}

bool Enabled(THandle AWindow) {
    return IsWindowEnabled(H(AWindow));
}

THandle Owner(THandle AWindow) {
    return T(GetWindow(H(AWindow), GW_OWNER));
}

THandle Focus(THandle AWindow) {
    GUITHREADINFO Info{};
    Info.cbSize = sizeof Info;
    GetGUIThreadInfo(GetWindowThreadProcessId(H(AWindow), nullptr), &Info);
    return T(Info.hwndFocus);
}

std::pair<int, int> ClientSize(THandle AWindow) {
    RECT R{};
    GetClientRect(H(AWindow), &R);
    return {R.right, R.bottom};
}

std::pair<int, int> Centre(THandle AWindow) {
    RECT R{};
    GetWindowRect(H(AWindow), &R);
    return {(R.left + R.right) / 2, (R.top + R.bottom) / 2};
}

std::pair<int, int> ScreenCentre(THandle AWindow) {
    MONITORINFO Info{};
    Info.cbSize = sizeof Info;
    GetMonitorInfoW(MonitorFromWindow(H(AWindow), MONITOR_DEFAULTTOPRIMARY), &Info);
    return {(Info.rcWork.left + Info.rcWork.right) / 2, (Info.rcWork.top + Info.rcWork.bottom) / 2};
}

unsigned Dpi(THandle AWindow) {
    using TGetDpi = UINT(WINAPI*)(HWND);
    const auto GetDpi = reinterpret_cast<TGetDpi>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (GetDpi) return GetDpi(H(AWindow));
    HDC DC = GetDC(nullptr);
    const int D = GetDeviceCaps(DC, LOGPIXELSY);
    ReleaseDC(nullptr, DC);
    return unsigned(D);
}

std::string WindowModule(THandle AWindow) {
    HMODULE Module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(GetWindowLongPtrW(H(AWindow), GWLP_WNDPROC)), &Module);
    wchar_t Path[MAX_PATH] = {};
    GetModuleFileNameW(Module, Path, MAX_PATH);
    return Utf8(Path);
}

std::vector<std::pair<std::string, std::string>> ListRows(THandle AList) {
    std::vector<std::pair<std::string, std::string>> Rows;
    const int Count = int(SendMessageW(H(AList), LVM_GETITEMCOUNT, 0, 0));
    for (int Item = 0; Item < Count; ++Item) {
        std::string Cells[2];
        for (int Column = 0; Column < 2; ++Column) {
            wchar_t Buf[1024] = {};
            LVITEMW It{};
            It.iSubItem = Column;
            It.pszText = Buf;
            It.cchTextMax = int(std::size(Buf));
            SendMessageW(H(AList), LVM_GETITEMTEXTW, WPARAM(Item), LPARAM(&It));
            Cells[Column] = Utf8(Buf);
        }
        Rows.emplace_back(Cells[0], Cells[1]);
    }
    return Rows;
}

std::vector<int> SelectedRows(THandle AList) {
    std::vector<int> Rows;
    for (int Item = -1; (Item = int(SendMessageW(H(AList), LVM_GETNEXTITEM, WPARAM(Item), LVNI_SELECTED))) >= 0;)
        Rows.push_back(Item);
    return Rows;
}

int ColumnWidth(THandle AList, int AColumn) {
    return int(SendMessageW(H(AList), LVM_GETCOLUMNWIDTH, WPARAM(AColumn), 0));
}

int TextWidth(THandle AList, const std::string& AText) {
    return int(SendMessageW(H(AList), LVM_GETSTRINGWIDTHW, 0, LPARAM(Wide(AText).c_str())));
}

std::vector<std::string> TabTexts(THandle ATabs) {
    std::vector<std::string> Texts;
    const int Count = int(SendMessageW(H(ATabs), TCM_GETITEMCOUNT, 0, 0));
    for (int I = 0; I < Count; ++I) {
        wchar_t Buf[256] = {};
        TCITEMW Item{};
        Item.mask = TCIF_TEXT;
        Item.pszText = Buf;
        Item.cchTextMax = int(std::size(Buf));
        SendMessageW(H(ATabs), TCM_GETITEMW, WPARAM(I), LPARAM(&Item));
        Texts.push_back(Utf8(Buf));
    }
    return Texts;
}

std::vector<std::string> ComboItems(THandle ACombo) {
    std::vector<std::string> Items;
    const int Count = int(Send(ACombo, CB_GETCOUNT, 0, 0));
    for (int I = 0; I < Count; ++I) {
        std::wstring Item(size_t(Send(ACombo, CB_GETLBTEXTLEN, WPARAM(I), 0)) + 1, L'\0');
        Item.resize(size_t(Send(ACombo, CB_GETLBTEXT, WPARAM(I), LPARAM(Item.data()))));
        Items.push_back(Utf8(Item));
    }
    return Items;
}

std::string ComboSelected(THandle ACombo) {
    const int At = int(Send(ACombo, CB_GETCURSEL, 0, 0));
    const std::vector<std::string> Items = ComboItems(ACombo);
    return At >= 0 && size_t(At) < Items.size() ? Items[size_t(At)] : std::string();
}

std::pair<int, int> EditSelection(THandle AEdit) {
    DWORD Start = 0, End = 0;
    SendMessageW(H(AEdit), EM_GETSEL, WPARAM(&Start), LPARAM(&End));
    return {int(Start), int(End)};
}

void SetEditSelection(THandle AEdit, int AStart, int AEnd) {
    SendMessageW(H(AEdit), EM_SETSEL, WPARAM(AStart), LPARAM(AEnd));
}

TCharLook LookOf(THandle ARichEdit, const std::string& AText) {
    TCharLook Look;
    const std::wstring Text = Wide(AText);
    FINDTEXTEXW Find{};
    Find.chrg = {0, -1};
    Find.lpstrText = Text.c_str();
    // Forward and matching case (FR_DOWN, FR_MATCHCASE of the common dialogs).
    const LRESULT At = SendMessageW(H(ARichEdit), EM_FINDTEXTEXW, 0x1 | 0x4, LPARAM(&Find));
    if (At < 0) return Look;
    SendMessageW(H(ARichEdit), EM_SETSEL, WPARAM(At), LPARAM(At + LONG(Text.size())));
    CHARFORMAT2W F{};
    F.cbSize = sizeof F;
    SendMessageW(H(ARichEdit), EM_GETCHARFORMAT, SCF_SELECTION, LPARAM(&F));
    SendMessageW(H(ARichEdit), EM_SETSEL, 0, 0);
    Look.Found = true;
    Look.Bold = (F.dwEffects & CFE_BOLD) != 0;
    Look.Italic = (F.dwEffects & CFE_ITALIC) != 0;
    Look.Link = (F.dwEffects & CFE_LINK) != 0;
    Look.Height = F.yHeight;
    Look.Face = Utf8(F.szFaceName);
    return Look;
}

int SelectedTab(THandle ATabs) {
    return int(SendMessageW(H(ATabs), TCM_GETCURSEL, 0, 0));
}

void ClickTab(THandle ATabs, int AIndex) {
    RECT R{};
    SendMessageW(H(ATabs), TCM_GETITEMRECT, WPARAM(AIndex), LPARAM(&R));
    PostMessageW(H(ATabs), WM_LBUTTONDOWN, MK_LBUTTON, Point(R));
    PostMessageW(H(ATabs), WM_LBUTTONUP, 0, Point(R));
    for (int I = 0; I < 50 && SelectedTab(ATabs) != AIndex; ++I) Pause(100);
    Pause(200);
}

void ClickButton(THandle AButton) {
    // Posted: the click's handler may wait for this thread (a question box).
    PostMessageW(H(AButton), BM_CLICK, 0, 0);
}

void DoubleClickCell(THandle AList, int ARow, int AColumn) {
    RECT R{};
    R.top = AColumn;
    R.left = LVIR_BOUNDS;
    SendMessageW(H(AList), LVM_GETSUBITEMRECT, WPARAM(ARow), LPARAM(&R));
    PostMessageW(H(AList), WM_LBUTTONDBLCLK, MK_LBUTTON, Point(R));
    PostMessageW(H(AList), WM_LBUTTONUP, 0, Point(R));
    Pause(300);
}

void TypeKeys(THandle AWindow, const std::vector<uint16_t>& AKeys) {
    // The window gets the focus as a click would give it: through the input
    // state its thread shares with this one for a moment.
    SetForegroundWindow(GetAncestor(H(AWindow), GA_ROOT));
    const DWORD Thread = GetWindowThreadProcessId(H(AWindow), nullptr);
    if (AttachThreadInput(GetCurrentThreadId(), Thread, TRUE)) {
        SetFocus(H(AWindow));
        AttachThreadInput(GetCurrentThreadId(), Thread, FALSE);
    }
    std::vector<INPUT> Inputs;
    for (uint16_t Key : AKeys) {
        INPUT In{};
        In.type = INPUT_KEYBOARD;
        In.ki.wVk = Key;
        Inputs.push_back(In);
    }
    for (auto It = AKeys.rbegin(); It != AKeys.rend(); ++It) {
        INPUT In{};
        In.type = INPUT_KEYBOARD;
        In.ki.wVk = *It;
        In.ki.dwFlags = KEYEVENTF_KEYUP;
        Inputs.push_back(In);
    }
    SendInput(UINT(Inputs.size()), Inputs.data(), sizeof(INPUT));
    Pause(300);
}

void PostClose(THandle AWindow) {
    PostMessageW(H(AWindow), WM_CLOSE, 0, 0);
}

void PostSystemClose(THandle AWindow) {
    PostMessageW(H(AWindow), WM_SYSCOMMAND, SC_CLOSE, 0);
}

void Post(THandle AWindow, unsigned AMessage, uintptr_t AWParam, intptr_t ALParam) {
    PostMessageW(H(AWindow), AMessage, WPARAM(AWParam), LPARAM(ALParam));
}

void PostQuit(THandle AWindow) {
    PostThreadMessageW(GetWindowThreadProcessId(H(AWindow), nullptr), WM_QUIT, 0, 0);
}

bool TakeQuit() {
    MSG M;
    return PeekMessageW(&M, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

bool AnswerBox(const std::string& ATitle, int AButtonId, int AWaitMs) {
    const HWND Box = H(FindTopWindow(ATitle, AWaitMs, "#32770"));
    if (!Box) return false;
    Pause(200);
    PostMessageW(GetDlgItem(Box, AButtonId), BM_CLICK, 0, 0);
    for (int I = 0; I < 50 && IsWindow(Box); ++I) Pause(100);
    return true;
}

std::string BoxText(const std::string& ATitle) {
    const HWND Box = FindNow(ATitle, "#32770");
    std::string Result;
    if (!Box) return Result;
    for (HWND C = GetWindow(Box, GW_CHILD); C; C = GetWindow(C, GW_HWNDNEXT))
        if (ClassOf(C) == "Static") Result += Text(T(C));
    return Result;
}

std::string ClipboardText() {
    std::string Result;
    for (int I = 0; I < 20 && !OpenClipboard(nullptr); ++I) Pause(50);
    if (HANDLE Data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* P = static_cast<const wchar_t*>(GlobalLock(Data))) {
            Result = Utf8(P);
            GlobalUnlock(Data);
        }
    }
    CloseClipboard();
    return Result;
}

THandle EnterHiddenStation() {
    HWINSTA Old = GetProcessWindowStation();
    HWINSTA Hidden = CreateWindowStationW(L"fr_test_hidden", 0, WINSTA_ALL_ACCESS, nullptr);
    if (Hidden) SetProcessWindowStation(Hidden);
    return T(reinterpret_cast<HWND>(Old));
}

void LeaveStation(THandle AStation) {
    HWINSTA Hidden = GetProcessWindowStation();
    SetProcessWindowStation(reinterpret_cast<HWINSTA>(AStation));
    if (Hidden != reinterpret_cast<HWINSTA>(AStation)) CloseWindowStation(Hidden);
}

uintmax_t Screenshot(THandle AWindow, const std::string& APath) {
    // Wine's own names: the file as the X tools see it.
    using TUnixName = char*(CDECL*)(LPCWSTR);
    const auto UnixName = reinterpret_cast<TUnixName>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* Unix = UnixName ? UnixName(Wide(APath).c_str()) : nullptr;
    if (!Unix) return 0;
    const std::string Target = Unix;
    HeapFree(GetProcessHeap(), 0, Unix);
    // The client area as it stands on the screen: without a window manager
    // the X server shows no frame or caption.
    RECT R{};
    GetClientRect(H(AWindow), &R);
    MapWindowPoints(H(AWindow), nullptr, reinterpret_cast<POINT*>(&R), 2);
    const std::string Geometry = std::to_string(R.right - R.left) + "x" + std::to_string(R.bottom - R.top) + "+" +
                                 std::to_string(R.left) + "+" + std::to_string(R.top);
    // A window just shown may not be painted yet.
    Pause(500);
    std::wstring Command =
        L"Z:\\usr\\bin\\import -window root -crop " + Wide(Geometry) + L" +repage \"" + Wide(Target) + L"\"";
    STARTUPINFOW Startup{};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Process{};
    std::error_code Ec;
    std::filesystem::remove(fr::PathFromUtf8(APath), Ec);
    if (!CreateProcessW(nullptr, Command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Process))
        return 0;
    CloseHandle(Process.hThread);
    CloseHandle(Process.hProcess);
    // Wine cannot wait for a Linux program: the picture is there once its
    // file stops growing.
    uintmax_t Size = 0;
    for (int I = 0; I < 100; ++I) {
        Pause(200);
        std::error_code Ec;
        const uintmax_t Now = std::filesystem::file_size(fr::PathFromUtf8(APath), Ec);
        if (!Ec && Now > 0 && Now == Size) break;
        Size = Ec ? 0 : Now;
    }
    return Size;
}

}  // namespace winui
