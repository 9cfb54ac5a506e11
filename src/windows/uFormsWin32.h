// What every Win32 service window needs: a form that runs modally on the
// calling thread over the host's active window, sizes scaled from 120 dots
// per inch to the window's DPI, the form's font, message boxes, and opening
// addresses with the shell. The windows are made while a TDesktopScope
// (uDesktop.h) keeps the common controls version 6 active.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace fr::win {

std::wstring Wide(std::string_view AUtf8);
std::string Utf8(std::wstring_view AText);
// The text of a window or control.
std::wstring WindowText(HWND AWindow);

// A size given for 120 pixels per inch, at ADpi.
int ScaleForDpi(int APixels, UINT ADpi);

// A top-level window of the library, shown modally. A form is created
// hidden; ShowModal disables the owner (the host's window that was active
// when the form was made), shows the form and runs the message loop until
// the form is closed: by its own buttons, Escape, the system menu or the
// window manager's close (all come as WM_CLOSE or IDCANCEL). A quit message
// ends the loop too and is posted again for the host's own loop.
class TForm {
public:
    enum TPlacement { plCentreOnOwner, plCentreOnScreen };

    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    HWND Handle() const { return FHandle; }
    // ABeforeShow, when given, runs once the form is laid out and just
    // before it is shown; what it raises leaves ShowModal and the form is
    // destroyed unseen.
    void ShowModal(const std::function<void()>& ABeforeShow = nullptr);
    // Gives the owner back its input and destroys the window.
    void Close();

protected:
    TForm() = default;
    // Makes the hidden window with the client size given at 120 dots per
    // inch, sizeable or with a dialog border, placed as APlacement says.
    void CreateForm(const std::string& ACaption, int AClientWidth, int AClientHeight, bool ASizeable,
                    TPlacement APlacement);
    // The form's icon: one of the shell's stock icons (SHSTOCKICONID).
    void SetStockIcon(int AId);
    // A child control in the form's font; its place comes from Layout.
    HWND AddControl(const wchar_t* AClass, const std::wstring& AText, DWORD AStyle, int AId, DWORD AExStyle = 0);
    // A size given at 120 dots per inch, at the form's DPI.
    int Scale(int APixels) const { return ScaleForDpi(APixels, FDpi); }
    UINT Dpi() const { return FDpi; }
    HFONT Font() const { return FFont; }
    // The control that has the focus when the form is shown or active again.
    void FocusControl(HWND AControl) {
        FFocus = AControl;
        if (IsWindowVisible(FHandle)) SetFocus(AControl);
    }

    // The form's messages; the base answers closing, sizing and DPI
    // changes. What a handler raises is shown in an error box and the form
    // stays.
    virtual LRESULT WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam);
    // Places the controls in a client area of AWidth x AHeight.
    virtual void Layout(int /*AWidth*/, int /*AHeight*/) {}
    // Sees each message of the loop before the dialog keys do; true when it
    // took the message.
    virtual bool PreTranslate(MSG& /*AMessage*/) { return false; }
    // The form moved to a screen of another DPI: the font is new, sizes that
    // are not laid out (list columns) follow here.
    virtual void DpiChanged() {}

private:
    static LRESULT CALLBACK Dispatch(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
    void SetDpi(UINT ADpi);
    void Relayout();

    HWND FHandle = nullptr;
    HWND FOwner = nullptr;
    bool FOwnerDisabled = false;
    bool FDone = false;
    HWND FFocus = nullptr;
    UINT FDpi = 96;
    HFONT FFont = nullptr;
    SIZE FMinSize{};       // the smallest outer size of a sizeable form
    HICON FIcons[2] = {};  // small and large
};

// A stock icon of the shell (SHSTOCKICONID) at the small or the large size,
// or null; the caller destroys it.
HICON StockIcon(int AId, bool ASmall);

// An error box over AOwner.
void ShowError(HWND AOwner, const std::string& AText);
// A question box over AOwner with the buttons Yes and No, Yes the default;
// true for Yes.
bool AskYesNo(HWND AOwner, const std::string& ACaption, const std::string& AText);
// Opens ATarget (a web address, a folder) with the shell's AVerb ("open",
// "explore"); a failure is shown in an error box over AOwner.
void OpenWithShell(HWND AOwner, const wchar_t* AVerb, const std::string& ATarget);

// The hourglass while the driver works; the previous cursor comes back when
// it goes out of scope or on Restore, also after a failure.
class TWaitCursor {
public:
    TWaitCursor() : FPrevious(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~TWaitCursor() { Restore(); }
    void Restore() {
        if (FActive) SetCursor(FPrevious);
        FActive = false;
    }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    HCURSOR FPrevious;
    bool FActive = true;
};

}  // namespace fr::win
