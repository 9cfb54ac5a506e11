#include "windows/ufmLog.h"

#include <fstream>
#include <sstream>

#include "windows/uGtkCommon.h"
#include "windows/uLogView.h"

namespace fr::win {

namespace {

class TfrmLog {
public:
    TfrmLog(const std::string& ACaption, const std::string& ALogDirectory);
    GtkWindow* Window() const { return FWindow; }

private:
    static void OnDestroy(GtkWidget*, gpointer ASelf);
    static void OnFileChanged(GtkComboBox*, gpointer ASelf);
    static void OnEncodingChanged(GtkComboBox*, gpointer ASelf);
    static void OnPopupShown(GObject*, GParamSpec*, gpointer ASelf);
    static void OnOpenDir(GtkButton*, gpointer ASelf);
    static gboolean OnTimer(gpointer ASelf);

    // Refills the file list; keeps the chosen file when it is still there.
    void FillFileList();
    std::string SelectedPath() const;
    void LoadSelected();

    GtkWindow* FWindow;
    GtkComboBoxText* cbbLogFiles;
    GtkWidget* btnOpenDir;
    GtkComboBoxText* cbbEncoding;
    GtkTextView* mmoLog;
    guint tmrCheckFile = 0;
    std::string FLogDirectory;
    TFileStamp FShown;  // the shown file when it was loaded
    bool FFilling = false;
};

TfrmLog::TfrmLog(const std::string& ACaption, const std::string& ALogDirectory) : FLogDirectory(ALogDirectory) {
    if (!FLogDirectory.empty() && FLogDirectory.back() != '/') FLogDirectory += '/';
    FWindow = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(FWindow, ACaption.c_str());
    gtk_window_set_icon_name(FWindow, "text-x-generic");
    gtk_window_set_default_size(FWindow, Scaled(884), Scaled(550));
    gtk_window_set_position(FWindow, GTK_WIN_POS_CENTER);

    GtkWidget* Box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(FWindow), Box);

    GtkWidget* Panel = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, Scaled(6));
    gtk_widget_set_size_request(Panel, -1, Scaled(33));
    gtk_container_set_border_width(GTK_CONTAINER(Panel), guint(Scaled(3)));
    gtk_box_pack_start(GTK_BOX(Box), Panel, FALSE, FALSE, 0);

    cbbLogFiles = GTK_COMBO_BOX_TEXT(gtk_combo_box_text_new());
    gtk_widget_set_size_request(GTK_WIDGET(cbbLogFiles), Scaled(257), -1);
    gtk_box_pack_start(GTK_BOX(Panel), GTK_WIDGET(cbbLogFiles), FALSE, FALSE, 0);

    btnOpenDir = gtk_button_new_from_icon_name("folder-open", GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_tooltip_text(btnOpenDir, "Открыть папку логов");
    gtk_box_pack_start(GTK_BOX(Panel), btnOpenDir, FALSE, FALSE, 0);

    cbbEncoding = GTK_COMBO_BOX_TEXT(gtk_combo_box_text_new());
    for (const char* Name : LogEncodingNames) gtk_combo_box_text_append_text(cbbEncoding, Name);
    gtk_combo_box_set_active(GTK_COMBO_BOX(cbbEncoding), leUtf8);
    gtk_box_pack_start(GTK_BOX(Panel), GTK_WIDGET(cbbEncoding), FALSE, FALSE, 0);

    GtkWidget* Scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(Scroll), GTK_POLICY_ALWAYS, GTK_POLICY_ALWAYS);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(Scroll), GTK_SHADOW_IN);
    // Both bars stay on screen, not only while the pointer moves.
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(Scroll), FALSE);
    gtk_box_pack_start(GTK_BOX(Box), Scroll, TRUE, TRUE, 0);
    mmoLog = GTK_TEXT_VIEW(gtk_text_view_new());
    gtk_text_view_set_editable(mmoLog, FALSE);
    gtk_text_view_set_cursor_visible(mmoLog, TRUE);
    gtk_text_view_set_wrap_mode(mmoLog, GTK_WRAP_NONE);
    gtk_text_view_set_monospace(mmoLog, TRUE);
    gtk_container_add(GTK_CONTAINER(Scroll), GTK_WIDGET(mmoLog));

    FillFileList();
    std::vector<std::string> Files = ListLogFiles(FLogDirectory);
    if (const int Newest = NewestLogFile(FLogDirectory, Files); Newest >= 0) {
        FFilling = true;
        gtk_combo_box_set_active(GTK_COMBO_BOX(cbbLogFiles), Newest);
        FFilling = false;
    }
    LoadSelected();

    g_signal_connect(cbbLogFiles, "changed", G_CALLBACK(OnFileChanged), this);
    g_signal_connect(cbbLogFiles, "notify::popup-shown", G_CALLBACK(OnPopupShown), this);
    g_signal_connect(cbbEncoding, "changed", G_CALLBACK(OnEncodingChanged), this);
    g_signal_connect(btnOpenDir, "clicked", G_CALLBACK(OnOpenDir), this);
    g_signal_connect(FWindow, "destroy", G_CALLBACK(OnDestroy), this);
    tmrCheckFile = g_timeout_add(1000, OnTimer, this);
    gtk_widget_grab_focus(GTK_WIDGET(mmoLog));
}

void TfrmLog::FillFileList() {
    gchar* Active = gtk_combo_box_text_get_active_text(cbbLogFiles);
    const std::string Keep = Active ? Active : "";
    g_free(Active);
    FFilling = true;
    gtk_combo_box_text_remove_all(cbbLogFiles);
    const std::vector<std::string> Files = ListLogFiles(FLogDirectory);
    for (size_t I = 0; I < Files.size(); ++I) {
        gtk_combo_box_text_append_text(cbbLogFiles, Files[I].c_str());
        if (Files[I] == Keep) gtk_combo_box_set_active(GTK_COMBO_BOX(cbbLogFiles), int(I));
    }
    FFilling = false;
}

std::string TfrmLog::SelectedPath() const {
    gchar* Name = gtk_combo_box_text_get_active_text(cbbLogFiles);
    const std::string Path = Name ? FLogDirectory + Name : std::string();
    g_free(Name);
    return Path;
}

void TfrmLog::LoadSelected() {
    const std::string Path = SelectedPath();
    GtkTextBuffer* Buffer = gtk_text_view_get_buffer(mmoLog);
    if (Path.empty()) {
        gtk_text_buffer_set_text(Buffer, "", 0);
        return;
    }
    // The stamp is taken before reading, so a line written meanwhile makes
    // the next tick load again.
    FShown = StampOfFile(Path);
    std::ifstream F(Path, std::ios::binary);
    std::ostringstream S;
    S << F.rdbuf();
    const int Encoding = gtk_combo_box_get_active(GTK_COMBO_BOX(cbbEncoding));
    const std::string Text = DecodeLogText(S.str(), TLogEncoding(Encoding < 0 ? leUtf8 : Encoding));
    gtk_text_buffer_set_text(Buffer, Text.data(), int(Text.size()));
}

void TfrmLog::OnDestroy(GtkWidget*, gpointer ASelf) {
    auto* Self = static_cast<TfrmLog*>(ASelf);
    if (Self->tmrCheckFile) g_source_remove(Self->tmrCheckFile);
    Self->tmrCheckFile = 0;
}

void TfrmLog::OnFileChanged(GtkComboBox*, gpointer ASelf) {
    auto* Self = static_cast<TfrmLog*>(ASelf);
    if (!Self->FFilling) Self->LoadSelected();
}

void TfrmLog::OnEncodingChanged(GtkComboBox*, gpointer ASelf) {
    static_cast<TfrmLog*>(ASelf)->LoadSelected();
}

void TfrmLog::OnPopupShown(GObject* AObject, GParamSpec*, gpointer ASelf) {
    gboolean Shown = FALSE;
    g_object_get(AObject, "popup-shown", &Shown, nullptr);
    if (Shown) static_cast<TfrmLog*>(ASelf)->FillFileList();
}

void TfrmLog::OnOpenDir(GtkButton*, gpointer ASelf) {
    auto* Self = static_cast<TfrmLog*>(ASelf);
    gchar* Uri = g_filename_to_uri(Self->FLogDirectory.c_str(), nullptr, nullptr);
    if (Uri) OpenUri(Self->FWindow, Uri);
    g_free(Uri);
}

gboolean TfrmLog::OnTimer(gpointer ASelf) {
    auto* Self = static_cast<TfrmLog*>(ASelf);
    const std::string Path = Self->SelectedPath();
    if (Path.empty() || !FileChanged(Self->FShown, StampOfFile(Path))) return G_SOURCE_CONTINUE;
    GtkTextBuffer* Buffer = gtk_text_view_get_buffer(Self->mmoLog);
    GtkTextIter Caret;
    gtk_text_buffer_get_iter_at_mark(Buffer, &Caret, gtk_text_buffer_get_insert(Buffer));
    const int Offset = gtk_text_iter_get_offset(&Caret);
    Self->LoadSelected();
    gtk_text_buffer_get_iter_at_offset(Buffer, &Caret, Offset);
    gtk_text_buffer_place_cursor(Buffer, &Caret);
    gtk_text_view_scroll_to_mark(Self->mmoLog, gtk_text_buffer_get_insert(Buffer), 0.0, FALSE, 0, 0);
    gtk_widget_grab_focus(GTK_WIDGET(Self->mmoLog));
    return G_SOURCE_CONTINUE;
}

}  // namespace

void ShowLogWindow(const std::string& ACaption, const std::string& ALogDirectory) {
    TfrmLog Form(ACaption, ALogDirectory);
    RunModal(Form.Window());
}

}  // namespace fr::win
