// The forms' header brings <windows.h>, which the common controls' needs first.
#include "windows/uFormsWin32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "windows/uLogView.h"
#include "windows/ufmLog.h"

namespace fr::win {

namespace {

enum : int {
    idLogFiles = 100,
    idOpenDir = 101,
    idEncoding = 102,
    idLog = 103,
    tmrCheckFile = 1,
};

// The whole file, read past the driver, which may be writing or renaming it
// meanwhile; empty when it cannot be read.
std::string ReadWholeFile(const std::string& APath) {
    const HANDLE F =
        CreateFileW(Wide(APath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (F == INVALID_HANDLE_VALUE) return {};
    std::string Bytes;
    char Buf[65536];
    DWORD Read = 0;
    while (ReadFile(F, Buf, sizeof Buf, &Read, nullptr) && Read > 0) Bytes.append(Buf, Read);
    CloseHandle(F);
    return Bytes;
}

// An edit control breaks lines at CR LF only.
std::wstring WithCrLf(const std::wstring& AText) {
    std::wstring Out;
    Out.reserve(AText.size() + AText.size() / 32);
    for (size_t I = 0; I < AText.size(); ++I) {
        const wchar_t C = AText[I];
        if (C == L'\r' && I + 1 < AText.size() && AText[I + 1] == L'\n') continue;
        if (C == L'\r' || C == L'\n') {
            Out += L"\r\n";
            continue;
        }
        Out += C;
    }
    return Out;
}

// The folder as the shell takes it.
std::string NativePath(std::string APath) {
    std::replace(APath.begin(), APath.end(), '/', '\\');
    return APath;
}

class TfrmLog : public TForm {
public:
    TfrmLog(const std::string& ACaption, const std::string& ALogDirectory);
    ~TfrmLog() override;

protected:
    LRESULT WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam) override;
    void Layout(int AWidth, int AHeight) override;
    bool PreTranslate(MSG& AMessage) override;
    void DpiChanged() override;

private:
    // Refills the file list; keeps the chosen file when it is still there.
    void FillFileList();
    std::string SelectedPath() const;
    void LoadSelected();
    void CheckFile();
    void MakeLogFont();

    HWND cbbLogFiles = nullptr;
    HWND btnOpenDir = nullptr;
    HWND cbbEncoding = nullptr;
    HWND mmoLog = nullptr;
    HWND FTip = nullptr;
    HICON FFolderIcon = nullptr;
    HFONT FLogFont = nullptr;
    std::string FLogDirectory;
    TFileStamp FShown;  // the shown file when it was loaded
};

TfrmLog::TfrmLog(const std::string& ACaption, const std::string& ALogDirectory) : FLogDirectory(ALogDirectory) {
    if (!FLogDirectory.empty() && FLogDirectory.back() != '/') FLogDirectory += '/';
    CreateForm(ACaption, 884, 550, true, plCentreOnScreen);
    SetStockIcon(SIID_DOCASSOC);
    cbbLogFiles =
        AddControl(WC_COMBOBOXW, L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT, idLogFiles);
    btnOpenDir = AddControl(WC_BUTTONW, L"", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, idOpenDir);
    FFolderIcon = StockIcon(SIID_FOLDEROPEN, true);
    if (FFolderIcon)
        SendMessageW(btnOpenDir, BM_SETIMAGE, IMAGE_ICON, LPARAM(FFolderIcon));
    else
        SetWindowTextW(btnOpenDir, L"...");
    cbbEncoding = AddControl(WC_COMBOBOXW, L"", WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, idEncoding);
    for (const char* Name : LogEncodingNames) SendMessageW(cbbEncoding, CB_ADDSTRING, 0, LPARAM(Wide(Name).c_str()));
    SendMessageW(cbbEncoding, CB_SETCURSEL, leUtf8, 0);
    mmoLog = AddControl(WC_EDITW, L"",
                        WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                            ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL,
                        idLog, WS_EX_CLIENTEDGE);
    // No limit but memory: a day's log can be large.
    SendMessageW(mmoLog, EM_SETLIMITTEXT, 0, 0);
    MakeLogFont();

    FTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, Handle(), nullptr,
                           nullptr, nullptr);
    if (FTip) {
        std::wstring Tip = L"Открыть папку логов";
        TOOLINFOW Tool{};
        Tool.cbSize = sizeof Tool;
        Tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        Tool.hwnd = Handle();
        Tool.uId = UINT_PTR(btnOpenDir);
        Tool.lpszText = Tip.data();
        SendMessageW(FTip, TTM_ADDTOOLW, 0, LPARAM(&Tool));
    }

    FillFileList();
    const std::vector<std::string> Files = ListLogFiles(FLogDirectory);
    if (const int Newest = NewestLogFile(FLogDirectory, Files); Newest >= 0) {
        const LRESULT At =
            SendMessageW(cbbLogFiles, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(Wide(Files[size_t(Newest)]).c_str()));
        SendMessageW(cbbLogFiles, CB_SETCURSEL, WPARAM(At), 0);
    }
    LoadSelected();
    SetTimer(Handle(), tmrCheckFile, 1000, nullptr);
    FocusControl(mmoLog);
}

TfrmLog::~TfrmLog() {
    if (Handle()) KillTimer(Handle(), tmrCheckFile);
    if (FFolderIcon) DestroyIcon(FFolderIcon);
    if (FTip) DestroyWindow(FTip);
    if (mmoLog && IsWindow(mmoLog)) SendMessageW(mmoLog, WM_SETFONT, 0, FALSE);
    if (FLogFont) DeleteObject(FLogFont);
}

// Log columns are TAB-separated: a fixed-width font keeps them aligned.
void TfrmLog::MakeLogFont() {
    LOGFONTW F{};
    F.lfHeight = -MulDiv(9, int(Dpi()), 72);
    F.lfCharSet = DEFAULT_CHARSET;
    F.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpynW(F.lfFaceName, L"Consolas", LF_FACESIZE);
    HFONT Old = FLogFont;
    FLogFont = CreateFontIndirectW(&F);
    SendMessageW(mmoLog, WM_SETFONT, WPARAM(FLogFont), TRUE);
    if (Old) DeleteObject(Old);
}

void TfrmLog::DpiChanged() {
    MakeLogFont();
}

void TfrmLog::Layout(int AWidth, int AHeight) {
    if (!mmoLog) return;
    const int Panel = Scale(33), Top = Scale(5), Gap = Scale(6), Button = Scale(25);
    int X = Scale(4);
    MoveWindow(cbbLogFiles, X, Top, Scale(257), Scale(300), TRUE);
    X += Scale(257) + Gap;
    MoveWindow(btnOpenDir, X, Top - Scale(1), Button, Button, TRUE);
    X += Button + Gap;
    MoveWindow(cbbEncoding, X, Top, Scale(90), Scale(150), TRUE);
    MoveWindow(mmoLog, 0, Panel, AWidth, std::max(0, AHeight - Panel), TRUE);
}

void TfrmLog::FillFileList() {
    const std::wstring Keep = WindowText(cbbLogFiles);
    SendMessageW(cbbLogFiles, CB_RESETCONTENT, 0, 0);
    for (const std::string& Name : ListLogFiles(FLogDirectory))
        SendMessageW(cbbLogFiles, CB_ADDSTRING, 0, LPARAM(Wide(Name).c_str()));
    if (!Keep.empty()) {
        const LRESULT At = SendMessageW(cbbLogFiles, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(Keep.c_str()));
        if (At != CB_ERR) SendMessageW(cbbLogFiles, CB_SETCURSEL, WPARAM(At), 0);
    }
}

std::string TfrmLog::SelectedPath() const {
    const std::wstring Name = WindowText(cbbLogFiles);
    return Name.empty() ? std::string() : FLogDirectory + Utf8(Name);
}

void TfrmLog::LoadSelected() {
    const std::string Path = SelectedPath();
    if (Path.empty()) {
        SetWindowTextW(mmoLog, L"");
        return;
    }
    // The stamp is taken before reading, so a line written meanwhile makes
    // the next tick load again.
    FShown = StampOfFile(Path);
    const LRESULT Encoding = SendMessageW(cbbEncoding, CB_GETCURSEL, 0, 0);
    const std::wstring Text =
        WithCrLf(Wide(DecodeLogText(ReadWholeFile(Path), TLogEncoding(Encoding == CB_ERR ? leUtf8 : int(Encoding)))));
    SendMessageW(mmoLog, WM_SETREDRAW, FALSE, 0);
    SetWindowTextW(mmoLog, Text.c_str());
    SendMessageW(mmoLog, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(mmoLog, nullptr, TRUE);
}

// The file grew: loaded again with the caret where it was, in view.
void TfrmLog::CheckFile() {
    const std::string Path = SelectedPath();
    if (Path.empty() || !FileChanged(FShown, StampOfFile(Path))) return;
    DWORD Start = 0, End = 0;
    SendMessageW(mmoLog, EM_GETSEL, WPARAM(&Start), LPARAM(&End));
    LoadSelected();
    SendMessageW(mmoLog, EM_SETSEL, Start, End);
    SendMessageW(mmoLog, EM_SCROLLCARET, 0, 0);
    FocusControl(mmoLog);
}

// Ctrl+A in the text selects all of it.
bool TfrmLog::PreTranslate(MSG& AMessage) {
    if (AMessage.message != WM_KEYDOWN || AMessage.hwnd != mmoLog || AMessage.wParam != 'A' ||
        GetKeyState(VK_CONTROL) >= 0)
        return false;
    SendMessageW(mmoLog, EM_SETSEL, 0, -1);
    return true;
}

LRESULT TfrmLog::WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    switch (AMessage) {
        case WM_TIMER:
            if (AWParam == tmrCheckFile) {
                CheckFile();
                return 0;
            }
            break;
        case WM_COMMAND:
            switch (LOWORD(AWParam)) {
                case idLogFiles:
                    // The list is read again each time it drops down.
                    if (HIWORD(AWParam) == CBN_DROPDOWN) FillFileList();
                    if (HIWORD(AWParam) == CBN_SELCHANGE) LoadSelected();
                    return 0;
                case idEncoding:
                    if (HIWORD(AWParam) == CBN_SELCHANGE) LoadSelected();
                    return 0;
                case idOpenDir:
                    OpenWithShell(Handle(), L"explore", NativePath(FLogDirectory));
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CTLCOLORSTATIC:
            // Read-only, yet a text to read: the window's colours, not the
            // face's.
            if (reinterpret_cast<HWND>(ALParam) == mmoLog) {
                HDC DC = reinterpret_cast<HDC>(AWParam);
                SetTextColor(DC, GetSysColor(COLOR_WINDOWTEXT));
                SetBkColor(DC, GetSysColor(COLOR_WINDOW));
                return LRESULT(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        default:
            break;
    }
    return TForm::WndProc(AMessage, AWParam, ALParam);
}

}  // namespace

void ShowLogWindow(const std::string& ACaption, const std::string& ALogDirectory) {
    TfrmLog Form(ACaption, ALogDirectory);
    Form.ShowModal();
}

}  // namespace fr::win
