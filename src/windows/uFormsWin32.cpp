#include "windows/uFormsWin32.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <stdexcept>

#include "base/uStrings.h"
#include "base/uSystem.h"
#include "windows/uDesktop.h"
#include "windows/uLogView.h"

namespace fr::win {

namespace {

const wchar_t kFormClass[] = L"fr_orvalen1c8x3n.Form";
// The manifest resource of the library (uWindowsWin32.rc) that asks for the
// common controls version 6.
const WORD kManifestId = 2;

HMODULE OwnModule() {
    HMODULE Module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &Module);
    return Module;
}

// A function of user32 that older systems lack, or null.
template <class F>
F User32Function(const char* AName) {
    const FARPROC P = GetProcAddress(GetModuleHandleW(L"user32.dll"), AName);
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(P));
}

UINT DpiOfWindow(HWND AWindow) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const TGetDpiForWindow GetDpi = User32Function<TGetDpiForWindow>("GetDpiForWindow");
    if (AWindow && GetDpi)
        if (const UINT D = GetDpi(AWindow)) return D;
    HDC DC = GetDC(nullptr);
    const int D = DC ? GetDeviceCaps(DC, LOGPIXELSY) : 0;
    if (DC) ReleaseDC(nullptr, DC);
    return D > 0 ? UINT(D) : 96;
}

// The outer size of a window whose client area is AWidth x AHeight.
SIZE OuterSize(int AWidth, int AHeight, DWORD AStyle, DWORD AExStyle, UINT ADpi) {
    using TAdjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const TAdjust AdjustForDpi = User32Function<TAdjust>("AdjustWindowRectExForDpi");
    RECT R{0, 0, AWidth, AHeight};
    if (!AdjustForDpi || !AdjustForDpi(&R, AStyle, FALSE, AExStyle, ADpi))
        AdjustWindowRectEx(&R, AStyle, FALSE, AExStyle);
    return {R.right - R.left, R.bottom - R.top};
}

// The host's window the operator works in: the calling thread's active
// window, or the foreground window when it is this thread's.
HWND HostWindow() {
    if (HWND Active = GetActiveWindow()) return Active;
    HWND Foreground = GetForegroundWindow();
    return Foreground && GetWindowThreadProcessId(Foreground, nullptr) == GetCurrentThreadId() ? Foreground : nullptr;
}

HFONT CreateFormFont(UINT ADpi) {
    LOGFONTW F{};
    F.lfHeight = -MulDiv(8, int(ADpi), 72);
    F.lfWeight = FW_NORMAL;
    F.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(F.lfFaceName, L"Tahoma", LF_FACESIZE);
    return CreateFontIndirectW(&F);
}

// A box over a window that may not be shown yet: then over its owner.
HWND BoxOwner(HWND AWindow) {
    return AWindow && !IsWindowVisible(AWindow) ? GetWindow(AWindow, GW_OWNER) : AWindow;
}

// The activation context made once from the library's manifest; released
// when the library is unloaded.
struct TOwnContext {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    TOwnContext() {
        ACTCTXW A{};
        A.cbSize = sizeof A;
        A.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        A.hModule = OwnModule();
        A.lpResourceName = MAKEINTRESOURCEW(kManifestId);
        Handle = CreateActCtxW(&A);
    }
    ~TOwnContext() {
        if (Handle != INVALID_HANDLE_VALUE) ReleaseActCtx(Handle);
    }
};

}  // namespace

std::wstring Wide(std::string_view AUtf8) {
    const std::u16string S = Utf8ToUtf16(AUtf8);
    return std::wstring(S.begin(), S.end());
}

std::string Utf8(std::wstring_view AText) {
    return Utf16ToUtf8(std::u16string(AText.begin(), AText.end()));
}

std::wstring WindowText(HWND AWindow) {
    std::wstring Text(size_t(GetWindowTextLengthW(AWindow)) + 1, L'\0');
    Text.resize(size_t(GetWindowTextW(AWindow, Text.data(), int(Text.size()))));
    return Text;
}

int ScaleForDpi(int APixels, UINT ADpi) {
    return ScaleFrom120(APixels, double(ADpi));
}

// ------------------------------------------------------------ desktop scope

TDesktopScope::TDesktopScope() {
    // Without its manifest (a test program that links the windows itself)
    // the controls are those of the process.
    static TOwnContext Context;
    ULONG_PTR Cookie = 0;
    if (Context.Handle != INVALID_HANDLE_VALUE && ActivateActCtx(Context.Handle, &Cookie)) FCookie = Cookie;
    INITCOMMONCONTROLSEX Classes{sizeof Classes,
                                 ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&Classes);
}

TDesktopScope::~TDesktopScope() {
    if (FCookie) DeactivateActCtx(0, ULONG_PTR(FCookie));
}

// ------------------------------------------------------------------ the form

TForm::~TForm() {
    if (FOwnerDisabled) EnableWindow(FOwner, TRUE);
    if (FHandle) {
        // The object is half gone: the window's last messages go to the
        // system's handler.
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
    }
    if (FFont) DeleteObject(FFont);
    for (HICON Icon : FIcons)
        if (Icon) DestroyIcon(Icon);
    // A class registered by a library stays after the library is unloaded;
    // one loaded again elsewhere would find it pointing into freed code.
    UnregisterClassW(kFormClass, OwnModule());
}

void TForm::CreateForm(const std::string& ACaption, int AClientWidth, int AClientHeight, bool ASizeable,
                       TPlacement APlacement) {
    const HMODULE Module = OwnModule();
    WNDCLASSEXW Class{};
    Class.cbSize = sizeof Class;
    Class.style = CS_DBLCLKS;
    Class.lpfnWndProc = Dispatch;
    Class.hInstance = Module;
    Class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    Class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    Class.lpszClassName = kFormClass;
    if (!RegisterClassExW(&Class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("Не удалось создать окно: " + SystemErrorText(LastSystemError()));

    FOwner = HostWindow();
    const DWORD Style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (ASizeable ? WS_THICKFRAME | WS_MAXIMIZEBOX : 0);
    const DWORD ExStyle = WS_EX_CONTROLPARENT | (ASizeable ? 0 : WS_EX_DLGMODALFRAME);
    CreateWindowExW(ExStyle, kFormClass, Wide(ACaption).c_str(), Style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, FOwner,
                    nullptr, Module, this);
    if (!FHandle) throw std::runtime_error("Не удалось создать окно: " + SystemErrorText(LastSystemError()));
    SetDpi(DpiOfWindow(FHandle));
    FMinSize = OuterSize(Scale(AClientWidth) / 2, Scale(AClientHeight) / 2, Style, ExStyle, FDpi);

    const SIZE Size = OuterSize(Scale(AClientWidth), Scale(AClientHeight), Style, ExStyle, FDpi);
    const bool OnOwner = APlacement == plCentreOnOwner && FOwner && IsWindowVisible(FOwner) && !IsIconic(FOwner);
    MONITORINFO Monitor{};
    Monitor.cbSize = sizeof Monitor;
    GetMonitorInfoW(MonitorFromWindow(OnOwner ? FOwner : FHandle, MONITOR_DEFAULTTOPRIMARY), &Monitor);
    RECT Around = Monitor.rcWork;
    if (OnOwner) GetWindowRect(FOwner, &Around);
    const RECT& Work = Monitor.rcWork;
    // Centred, and kept on the screen with its caption first.
    const int X = std::max(Work.left, std::min((Around.left + Around.right - Size.cx) / 2, Work.right - Size.cx));
    const int Y = std::max(Work.top, std::min((Around.top + Around.bottom - Size.cy) / 2, Work.bottom - Size.cy));
    SetWindowPos(FHandle, nullptr, X, Y, Size.cx, Size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetStockIcon(int AId) {
    for (int I = 0; I < 2; ++I) {
        FIcons[I] = StockIcon(AId, I == 0);
        if (FIcons[I]) SendMessageW(FHandle, WM_SETICON, I == 0 ? ICON_SMALL : ICON_BIG, LPARAM(FIcons[I]));
    }
}

HWND TForm::AddControl(const wchar_t* AClass, const std::wstring& AText, DWORD AStyle, int AId, DWORD AExStyle) {
    HWND Control = CreateWindowExW(AExStyle, AClass, AText.c_str(), AStyle | WS_CHILD, 0, 0, 0, 0, FHandle,
                                   reinterpret_cast<HMENU>(INT_PTR(AId)), OwnModule(), nullptr);
    if (!Control) throw std::runtime_error("Не удалось создать окно: " + SystemErrorText(LastSystemError()));
    SendMessageW(Control, WM_SETFONT, WPARAM(FFont), FALSE);
    return Control;
}

void TForm::SetDpi(UINT ADpi) {
    FDpi = ADpi;
    HFONT Old = FFont;
    FFont = CreateFormFont(ADpi);
    for (HWND C = GetWindow(FHandle, GW_CHILD); C; C = GetWindow(C, GW_HWNDNEXT))
        SendMessageW(C, WM_SETFONT, WPARAM(FFont), TRUE);
    if (Old) DeleteObject(Old);
}

void TForm::Relayout() {
    RECT R{};
    GetClientRect(FHandle, &R);
    Layout(R.right, R.bottom);
}

void TForm::ShowModal(const std::function<void()>& ABeforeShow) {
    Relayout();
    if (ABeforeShow) ABeforeShow();
    if (!FHandle) return;
    if (FOwner && IsWindowEnabled(FOwner)) {
        EnableWindow(FOwner, FALSE);
        FOwnerDisabled = true;
    }
    ShowWindow(FHandle, SW_SHOWNORMAL);
    UpdateWindow(FHandle);
    MSG M;
    while (!FDone && FHandle) {
        const BOOL Got = GetMessageW(&M, nullptr, 0, 0);
        if (Got == -1) break;
        if (Got == 0) {
            // The host is quitting: its own loop gets the message again.
            PostQuitMessage(int(M.wParam));
            break;
        }
        const bool Ours = M.hwnd == FHandle || IsChild(FHandle, M.hwnd);
        bool Taken = false;
        try {
            Taken = Ours && PreTranslate(M);
        } catch (const std::exception& E) {
            ShowError(FHandle, E.what());
            Taken = true;
        }
        if (Taken) continue;
        if (Ours && M.message == WM_KEYDOWN && M.wParam == VK_ESCAPE) {
            Close();
            continue;
        }
        if (IsDialogMessageW(FHandle, &M)) continue;
        TranslateMessage(&M);
        DispatchMessageW(&M);
    }
    Close();
}

void TForm::Close() {
    FDone = true;
    // The owner gets its input back first, so that it is the window the
    // system activates when this one goes.
    if (FOwnerDisabled) EnableWindow(FOwner, TRUE);
    FOwnerDisabled = false;
    if (FHandle) DestroyWindow(FHandle);
}

LRESULT TForm::WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    switch (AMessage) {
        case WM_CLOSE:
            Close();
            return 0;
        case WM_COMMAND:
            if (LOWORD(AWParam) == IDCANCEL) {
                Close();
                return 0;
            }
            break;
        case WM_SIZE:
            if (AWParam != SIZE_MINIMIZED) Layout(LOWORD(ALParam), HIWORD(ALParam));
            return 0;
        case WM_ACTIVATE:
            // As a dialog box does: the control that had the focus gets it
            // back when the form is active again.
            if (LOWORD(AWParam) == WA_INACTIVE) {
                HWND Focus = GetFocus();
                if (Focus && IsChild(FHandle, Focus)) FFocus = Focus;
            } else if (FFocus && IsWindow(FFocus)) {
                SetFocus(FFocus);
                return 0;
            }
            break;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO*>(ALParam)->ptMinTrackSize = {FMinSize.cx, FMinSize.cy};
            return 0;
        case WM_DPICHANGED: {
            SetDpi(HIWORD(AWParam));
            DpiChanged();
            const RECT& R = *reinterpret_cast<const RECT*>(ALParam);
            SetWindowPos(FHandle, nullptr, R.left, R.top, R.right - R.left, R.bottom - R.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            Relayout();
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(FHandle, AMessage, AWParam, ALParam);
}

LRESULT CALLBACK TForm::Dispatch(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    if (AMessage == WM_NCCREATE) {
        auto* Created = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams);
        SetWindowLongPtrW(AWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Created));
        Created->FHandle = AWindow;
    }
    auto* Self = reinterpret_cast<TForm*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    if (!Self) return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
    if (AMessage == WM_NCDESTROY) {
        SetWindowLongPtrW(AWindow, GWLP_USERDATA, 0);
        Self->FHandle = nullptr;
        Self->FDone = true;
        return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
    }
    // No exception may cross the system's code that called here.
    try {
        return Self->WndProc(AMessage, AWParam, ALParam);
    } catch (const std::exception& E) {
        ShowError(AWindow, E.what());
    } catch (...) {
        ShowError(AWindow, "Неизвестная ошибка в окне драйвера");
    }
    return 0;
}

HICON StockIcon(int AId, bool ASmall) {
    // The icon's place, then the icon itself: not every shell hands out the
    // icon directly. Where the shell knows no place, the first stock icons
    // (documents, folders) are shell32.dll's resources 1 to 5.
    SHSTOCKICONINFO Info{};
    Info.cbSize = sizeof Info;
    HICON Icon = nullptr;
    auto Extract = [&](const wchar_t* AFile, int AIndex) {
        ExtractIconExW(AFile, AIndex, ASmall ? nullptr : &Icon, ASmall ? &Icon : nullptr, 1);
    };
    if (SUCCEEDED(SHGetStockIconInfo(SHSTOCKICONID(AId), SHGSI_ICONLOCATION, &Info))) Extract(Info.szPath, Info.iIcon);
    if (!Icon && AId <= SIID_FOLDEROPEN) Extract(L"shell32.dll", -(AId + 1));
    return Icon;
}

// --------------------------------------------------------------------- boxes

void ShowError(HWND AOwner, const std::string& AText) {
    MessageBoxW(BoxOwner(AOwner), Wide(AText).c_str(), L"Ошибка", MB_OK | MB_ICONERROR);
}

bool AskYesNo(HWND AOwner, const std::string& ACaption, const std::string& AText) {
    return MessageBoxW(BoxOwner(AOwner), Wide(AText).c_str(), Wide(ACaption).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) == IDYES;
}

void OpenWithShell(HWND AOwner, const wchar_t* AVerb, const std::string& ATarget) {
    // Some shell handlers need COM on the calling thread; a host that chose
    // another apartment keeps it.
    const HRESULT Com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring Target = Wide(ATarget);
    SHELLEXECUTEINFOW Info{};
    Info.cbSize = sizeof Info;
    Info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    Info.hwnd = AOwner;
    Info.lpVerb = AVerb;
    Info.lpFile = Target.c_str();
    Info.nShow = SW_SHOWNORMAL;
    const bool Done = ShellExecuteExW(&Info);
    const int Error = LastSystemError();
    if (SUCCEEDED(Com)) CoUninitialize();
    if (!Done) ShowError(AOwner, "Не удалось открыть " + ATarget + ": " + SystemErrorText(Error));
}

}  // namespace fr::win
