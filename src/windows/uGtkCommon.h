// What every service window needs from GTK: starting it when the host has
// not, sizes for the desktop, the modal loop, message boxes and opening
// addresses with the desktop's default handler.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace fr::win {

// Uses the GTK the host has already started, or starts it on this thread
// without touching the process locale. Raises std::runtime_error with a
// Russian text when no display can be opened.
void EnsureGtk();

// A size given for 120 pixels per inch, on this desktop.
int Scaled(int APixels);

// Shows AWindow modally over the host's active window (a window centred on
// its owner is centred on the screen when there is none) and returns once it
// is destroyed (its own close or the window manager's). Escape closes it.
// ABeforeShow, when given, runs once the window has its owner and just
// before it is shown, so what it fills decides the window's first size.
// Raises when another thread runs the host's interface.
void RunModal(GtkWindow* AWindow, const std::function<void()>& ABeforeShow = nullptr);

// An error message box over AParent with the text; returns when closed.
void ShowError(GtkWindow* AParent, const std::string& AText);

// A question box over AParent with the buttons "Да" and "Нет"; true for
// "Да" (also Enter), false for "Нет" and for closing the box.
bool AskYesNo(GtkWindow* AParent, const std::string& ACaption, const std::string& AText);

// Opens AUri (a web address or a file:// folder) with the desktop's
// default handler; a failure is shown as a message box.
void OpenUri(GtkWindow* AParent, const std::string& AUri);

// Owner of a GObject reference.
template <class T>
struct TGObjectRef {
    T* P = nullptr;
    explicit TGObjectRef(T* AP) : P(AP) {}
    ~TGObjectRef() {
        if (P) g_object_unref(P);
    }
    TGObjectRef(const TGObjectRef&) = delete;
    TGObjectRef& operator=(const TGObjectRef&) = delete;
};

}  // namespace fr::win
