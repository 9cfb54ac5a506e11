#include "windows/uGtkCommon.h"

#include <cstdlib>
#include <stdexcept>

#include "windows/uDesktop.h"
#include "windows/uLogView.h"

namespace fr::win {

void EnsureGtk() {
    // A display already open means GTK runs: the host's, or ours from an
    // earlier window.
    if (gdk_display_get_default()) return;
    // The host process's locale stays as the host set it.
    gtk_disable_setlocale();
    if (!gtk_init_check(nullptr, nullptr)) {
        const char* Display = std::getenv("DISPLAY");
        throw std::runtime_error(std::string("Не удалось открыть графический дисплей") +
                                 (Display && *Display ? std::string(" ") + Display : std::string()) +
                                 ": окна драйвера доступны только в графическом сеансе");
    }
}

TDesktopScope::TDesktopScope() {
    EnsureGtk();
}

TDesktopScope::~TDesktopScope() = default;

int Scaled(int APixels) {
    GdkScreen* Screen = gdk_screen_get_default();
    return ScaleFrom120(APixels, Screen ? gdk_screen_get_resolution(Screen) : 96.0);
}

namespace {

gboolean OnKey(GtkWidget* AWidget, GdkEventKey* AEvent, gpointer) {
    if (AEvent->keyval != GDK_KEY_Escape) return FALSE;
    // Escape in a cell being edited cancels the edit, not the window.
    GtkWidget* Focus = gtk_window_get_focus(GTK_WINDOW(AWidget));
    if (Focus && GTK_IS_CELL_EDITABLE(Focus)) return FALSE;
    gtk_window_close(GTK_WINDOW(AWidget));
    return TRUE;
}

// The host's window the user works in, to keep ours above it.
GtkWindow* HostActiveWindow(GtkWindow* AOwn) {
    GList* List = gtk_window_list_toplevels();
    GtkWindow* Found = nullptr;
    for (GList* L = List; L; L = L->next) {
        GtkWindow* W = GTK_WINDOW(L->data);
        if (W != AOwn && gtk_window_is_active(W) && gtk_widget_get_visible(GTK_WIDGET(W))) Found = W;
    }
    g_list_free(List);
    return Found;
}

}  // namespace

void RunModal(GtkWindow* AWindow, const std::function<void()>& ABeforeShow) {
    // The nested loop needs the main context; a host that runs its interface
    // on another thread holds it.
    if (!g_main_context_acquire(nullptr)) {
        gtk_widget_destroy(GTK_WIDGET(AWindow));
        throw std::runtime_error("Окно драйвера можно открыть только из потока, в котором работает интерфейс клиента");
    }
    if (GtkWindow* Owner = HostActiveWindow(AWindow)) {
        gtk_window_set_transient_for(AWindow, Owner);
    } else {
        GtkWindowPosition Position = GTK_WIN_POS_NONE;
        g_object_get(AWindow, "window-position", &Position, nullptr);
        if (Position == GTK_WIN_POS_CENTER_ON_PARENT) gtk_window_set_position(AWindow, GTK_WIN_POS_CENTER);
    }
    gtk_window_set_modal(AWindow, TRUE);
    GMainLoop* Loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect(AWindow, "key-press-event", G_CALLBACK(OnKey), nullptr);
    g_signal_connect_swapped(AWindow, "destroy", G_CALLBACK(g_main_loop_quit), Loop);
    if (ABeforeShow) {
        try {
            ABeforeShow();
        } catch (...) {
            g_main_loop_unref(Loop);
            gtk_widget_destroy(GTK_WIDGET(AWindow));
            g_main_context_release(nullptr);
            throw;
        }
    }
    gtk_widget_show_all(GTK_WIDGET(AWindow));
    g_main_loop_run(Loop);
    g_main_loop_unref(Loop);
    // Let the display forget the window before control returns to the host.
    gdk_display_flush(gdk_display_get_default());
    g_main_context_release(nullptr);
}

void ShowError(GtkWindow* AParent, const std::string& AText) {
    GtkWidget* D = gtk_message_dialog_new(AParent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                          GTK_MESSAGE_ERROR, GTK_BUTTONS_NONE, "%s", AText.c_str());
    gtk_window_set_title(GTK_WINDOW(D), "Ошибка");
    gtk_dialog_add_button(GTK_DIALOG(D), "ОК", GTK_RESPONSE_OK);
    gtk_dialog_run(GTK_DIALOG(D));
    gtk_widget_destroy(D);
}

bool AskYesNo(GtkWindow* AParent, const std::string& ACaption, const std::string& AText) {
    GtkWidget* D = gtk_message_dialog_new(AParent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                          GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", AText.c_str());
    gtk_window_set_title(GTK_WINDOW(D), ACaption.c_str());
    gtk_dialog_add_button(GTK_DIALOG(D), "Да", GTK_RESPONSE_YES);
    gtk_dialog_add_button(GTK_DIALOG(D), "Нет", GTK_RESPONSE_NO);
    gtk_dialog_set_default_response(GTK_DIALOG(D), GTK_RESPONSE_YES);
    const bool Yes = gtk_dialog_run(GTK_DIALOG(D)) == GTK_RESPONSE_YES;
    gtk_widget_destroy(D);
    return Yes;
}

void OpenUri(GtkWindow* AParent, const std::string& AUri) {
    GError* Error = nullptr;
    if (gtk_show_uri_on_window(AParent, AUri.c_str(), GDK_CURRENT_TIME, &Error)) return;
    const std::string Text =
        "Не удалось открыть " + AUri + ": " + (Error ? Error->message : "нет программы для этого адреса");
    if (Error) g_error_free(Error);
    ShowError(AParent, Text);
}

}  // namespace fr::win
