// What every service window needs from GTK: starting it when the host has
// not, sizes for the desktop, the modal loop, message boxes and opening
// addresses with the desktop's default handler.
#pragma once

#include <gtk/gtk.h>

#include <string>

namespace fr::win {

// Uses the GTK the host has already started, or starts it on this thread
// without touching the process locale. Raises std::runtime_error with a
// Russian text when no display can be opened.
void EnsureGtk();

// A size given for 120 pixels per inch, on this desktop.
int Scaled(int APixels);

// Shows AWindow modally over the host's active window and returns once it
// is destroyed (its own close or the window manager's). Escape closes it.
// Raises when another thread runs the host's interface.
void RunModal(GtkWindow* AWindow);

// An error message box over AParent with the text; returns when closed.
void ShowError(GtkWindow* AParent, const std::string& AText);

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
