// The windows of the library as an operator meets them, for the window
// tests: finding them, reading what they show, clicking and typing. Kept
// apart from the tests, whose host declarations clash with <windows.h>;
// windows are passed as integers. Functions that read a window send it
// messages, so they wait while its thread is busy with the driver.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace winui {

using THandle = uintptr_t;

// Virtual-key codes the tests type.
namespace key {
constexpr uint16_t Tab = 0x09, Return = 0x0D, Shift = 0x10, Control = 0x11, Escape = 0x1B, End = 0x23, Down = 0x28,
                   F2 = 0x71, F5 = 0x74, F10 = 0x79;
}
// Buttons of message boxes.
constexpr int IdOk = 1, IdYes = 6, IdNo = 7;

// Sets an environment variable of the process (UTF-8), as the DLL reads it.
void SetEnv(const std::string& AName, const std::string& AValue);

// A window of the test's own standing in for the host's main window: shown
// and active on the calling thread, so that a window opened from this thread
// is owned by it.
THandle CreateHostWindow();
void DestroyWindow(THandle AWindow);

// A visible top-level window of any process whose title holds AText,
// within AWaitMs, or 0.
THandle FindAnyWindowWith(const std::string& AText, int AWaitMs = 20000);
// A message sent to the window, its answer (0 after ten seconds).
intptr_t Send(THandle AWindow, unsigned AMessage, uintptr_t AWParam, intptr_t ALParam);
// A visible top-level window of this process with the title (and the window
// class, when given) within AWaitMs, or 0.
THandle FindTopWindow(const std::string& ATitle, int AWaitMs = 20000, const std::string& AClass = "");
// True once no visible top-level window of this process has the title,
// within AWaitMs.
bool WaitGone(const std::string& ATitle, int AWaitMs = 10000);
// The children of AParent with the window class (in any letter case), in the
// order of their creation; only the visible ones when AVisible.
std::vector<THandle> Children(THandle AParent, const std::string& AClass, bool AVisible = true);
// The visible button of AParent with the text, or 0.
THandle Button(THandle AParent, const std::string& AText);

// A window's title or a button's caption, read without a message.
std::string Text(THandle AWindow);
// What a control holds (an edit's text), asked of the control (WM_GETTEXT).
std::string Contents(THandle AControl);
bool Enabled(THandle AWindow);
THandle Owner(THandle AWindow);
THandle Focus(THandle AWindow);  // the focused control of the window's thread
std::pair<int, int> ClientSize(THandle AWindow);
// The centre of the window, and of the work area of the screen it is on.
std::pair<int, int> Centre(THandle AWindow);
std::pair<int, int> ScreenCentre(THandle AWindow);
unsigned Dpi(THandle AWindow);
// The file of the module whose code handles the window's messages.
std::string WindowModule(THandle AWindow);

// The rows of a report list view: the texts of its first two columns.
std::vector<std::pair<std::string, std::string>> ListRows(THandle AList);
// The selected rows' indexes.
std::vector<int> SelectedRows(THandle AList);
// A list view column's width, and the width its font gives a text.
int ColumnWidth(THandle AList, int AColumn);
int TextWidth(THandle AList, const std::string& AText);
// The captions of a tab control's tabs, and the index of the selected one.
std::vector<std::string> TabTexts(THandle ATabs);
int SelectedTab(THandle ATabs);
// The look of the first run of AText (case as written) in a rich edit
// control; Found false when the text is not there.
struct TCharLook {
    bool Found = false, Bold = false, Italic = false, Link = false;
    long Height = 0;  // twips
    std::string Face;
};
TCharLook LookOf(THandle ARichEdit, const std::string& AText);
// The items of a combo box, and the one selected (empty when none).
std::vector<std::string> ComboItems(THandle ACombo);
std::string ComboSelected(THandle ACombo);
// The selection (or caret) of an edit control, and setting it.
std::pair<int, int> EditSelection(THandle AEdit);
void SetEditSelection(THandle AEdit, int AStart, int AEnd);

// As the operator does: a click on a tab, a button, a list row's cell.
void ClickTab(THandle ATabs, int AIndex);
void ClickButton(THandle AButton);
void DoubleClickCell(THandle AList, int ARow, int AColumn);
// Keys typed into the window (which gets the focus first): virtual-key
// codes pressed in order and released in reverse, so {VK_CONTROL, 'C'} is
// Ctrl+C.
void TypeKeys(THandle AWindow, const std::vector<uint16_t>& AKeys);
// The close requests: WM_CLOSE, and the window manager's (the system
// menu's close command, which the X11 driver turns its close request into).
void PostClose(THandle AWindow);
void PostSystemClose(THandle AWindow);
void Post(THandle AWindow, unsigned AMessage, uintptr_t AWParam, intptr_t ALParam);
// The host quitting: a quit message posted to the window's thread; and
// taking one from the calling thread's queue (true when there was one).
void PostQuit(THandle AWindow);
bool TakeQuit();

// Answers a message box with the title by its button (IDOK 1, IDYES 6,
// IDNO 7) once it appears within AWaitMs; false when none appeared.
bool AnswerBox(const std::string& ATitle, int AButtonId, int AWaitMs = 10000);
// The text of the message box with the title, or empty.
std::string BoxText(const std::string& ATitle);

std::string ClipboardText();

// Moves the process to a window station of its own that the operator does
// not see, as a service's; returns the one to go back to with
// LeaveStation.
THandle EnterHiddenStation();
void LeaveStation(THandle AStation);

// Writes what the X server shows of the window's client area to a PNG file
// (ImageMagick's import, run as Wine runs a Linux program); returns the
// file's size, 0 when it could not be taken.
uintmax_t Screenshot(THandle AWindow, const std::string& APath);

}  // namespace winui
