#include "windows/ufmDocView.h"

#include <cstring>

#include "windows/uGtkCommon.h"

namespace fr::win {

namespace {

const char kUrlKey[] = "fr-link-url";

class TfrmDocView {
public:
    TfrmDocView(const std::vector<TDocRun>& ARuns, const std::string& ACaption);
    GtkWindow* Window() const { return FWindow; }

private:
    void CreateTags();
    void Insert(const TDocRun& ARun);
    GtkTextTag* LinkTag(const std::string& AUrl);
    // The address of the link under the window point, or null.
    const char* LinkAt(int AX, int AY) const;

    static gboolean OnRelease(GtkWidget*, GdkEventButton* AEvent, gpointer ASelf);
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* AEvent, gpointer ASelf);

    GtkWindow* FWindow;
    GtkTextView* wbBrowser;
    GtkTextBuffer* FBuffer;
    bool FOverLink = false;
};

TfrmDocView::TfrmDocView(const std::vector<TDocRun>& ARuns, const std::string& ACaption) {
    FWindow = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(FWindow, ACaption.empty() ? "Документ" : ACaption.c_str());
    gtk_window_set_icon_name(FWindow, "help-browser");
    gtk_window_set_default_size(FWindow, Scaled(633), Scaled(425));
    gtk_window_set_position(FWindow, GTK_WIN_POS_CENTER);

    GtkWidget* Scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(Scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(FWindow), Scroll);
    wbBrowser = GTK_TEXT_VIEW(gtk_text_view_new());
    gtk_text_view_set_editable(wbBrowser, FALSE);
    gtk_text_view_set_cursor_visible(wbBrowser, FALSE);
    gtk_text_view_set_wrap_mode(wbBrowser, GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(wbBrowser, Scaled(14));
    gtk_text_view_set_right_margin(wbBrowser, Scaled(14));
    gtk_text_view_set_top_margin(wbBrowser, Scaled(10));
    gtk_text_view_set_bottom_margin(wbBrowser, Scaled(10));
    gtk_container_add(GTK_CONTAINER(Scroll), GTK_WIDGET(wbBrowser));
    FBuffer = gtk_text_view_get_buffer(wbBrowser);

    CreateTags();
    for (const TDocRun& R : ARuns) Insert(R);
    GtkTextIter Start;
    gtk_text_buffer_get_start_iter(FBuffer, &Start);
    gtk_text_buffer_place_cursor(FBuffer, &Start);

    g_signal_connect(wbBrowser, "button-release-event", G_CALLBACK(OnRelease), this);
    g_signal_connect(wbBrowser, "motion-notify-event", G_CALLBACK(OnMotion), this);
}

void TfrmDocView::CreateTags() {
    static const double Scales[] = {1.7, 1.4, 1.2, 1.1, 1.0, 1.0};
    for (int Level = 1; Level <= 6; ++Level)
        gtk_text_buffer_create_tag(FBuffer, ("h" + std::to_string(Level)).c_str(), "weight", PANGO_WEIGHT_BOLD, "scale",
                                   Scales[Level - 1], "pixels-above-lines", Scaled(Level <= 2 ? 8 : 4),
                                   "pixels-below-lines", Scaled(4), nullptr);
    gtk_text_buffer_create_tag(FBuffer, "strong", "weight", PANGO_WEIGHT_BOLD, nullptr);
    gtk_text_buffer_create_tag(FBuffer, "em", "style", PANGO_STYLE_ITALIC, nullptr);
    gtk_text_buffer_create_tag(FBuffer, "code", "family", "monospace", "background", "#eef0f2", nullptr);
    gtk_text_buffer_create_tag(FBuffer, "pre", "family", "monospace", "paragraph-background", "#eef0f2", "wrap-mode",
                               GTK_WRAP_NONE, nullptr);
    gtk_text_buffer_create_tag(FBuffer, "quote", "foreground", "#555555", "style", PANGO_STYLE_ITALIC, nullptr);
}

GtkTextTag* TfrmDocView::LinkTag(const std::string& AUrl) {
    GtkTextTag* Tag = gtk_text_buffer_create_tag(FBuffer, nullptr, "foreground", "#1a5fb4", "underline",
                                                 PANGO_UNDERLINE_SINGLE, nullptr);
    g_object_set_data_full(G_OBJECT(Tag), kUrlKey, g_strdup(AUrl.c_str()), g_free);
    return Tag;
}

void TfrmDocView::Insert(const TDocRun& ARun) {
    GtkTextIter End;
    gtk_text_buffer_get_end_iter(FBuffer, &End);
    const int From = gtk_text_iter_get_offset(&End);
    gtk_text_buffer_insert(FBuffer, &End, ARun.Text.data(), int(ARun.Text.size()));
    GtkTextIter A, B;
    gtk_text_buffer_get_iter_at_offset(FBuffer, &A, From);
    gtk_text_buffer_get_end_iter(FBuffer, &B);
    auto Apply = [&](const char* AName) { gtk_text_buffer_apply_tag_by_name(FBuffer, AName, &A, &B); };
    if (ARun.Heading) Apply(("h" + std::to_string(ARun.Heading)).c_str());
    if (ARun.Strong) Apply("strong");
    if (ARun.Emph) Apply("em");
    if (ARun.Code) Apply("code");
    if (ARun.CodeBlock) Apply("pre");
    if (ARun.Quote) Apply("quote");
    if (ARun.Indent) {
        const std::string Name = "indent" + std::to_string(ARun.Indent);
        GtkTextTagTable* Table = gtk_text_buffer_get_tag_table(FBuffer);
        if (!gtk_text_tag_table_lookup(Table, Name.c_str()))
            gtk_text_buffer_create_tag(FBuffer, Name.c_str(), "left-margin", Scaled(14 + 22 * ARun.Indent), nullptr);
        Apply(Name.c_str());
    }
    if (!ARun.Link.empty()) gtk_text_buffer_apply_tag(FBuffer, LinkTag(ARun.Link), &A, &B);
}

const char* TfrmDocView::LinkAt(int AX, int AY) const {
    int X, Y;
    gtk_text_view_window_to_buffer_coords(wbBrowser, GTK_TEXT_WINDOW_WIDGET, AX, AY, &X, &Y);
    GtkTextIter It;
    if (!gtk_text_view_get_iter_at_location(wbBrowser, &It, X, Y)) return nullptr;
    const char* Url = nullptr;
    GSList* Tags = gtk_text_iter_get_tags(&It);
    for (GSList* T = Tags; T && !Url; T = T->next)
        Url = static_cast<const char*>(g_object_get_data(G_OBJECT(T->data), kUrlKey));
    g_slist_free(Tags);
    return Url;
}

gboolean TfrmDocView::OnRelease(GtkWidget*, GdkEventButton* AEvent, gpointer ASelf) {
    auto* Self = static_cast<TfrmDocView*>(ASelf);
    if (AEvent->button != GDK_BUTTON_PRIMARY) return FALSE;
    // A drag that selected text is no click on a link.
    GtkTextIter A, B;
    if (gtk_text_buffer_get_selection_bounds(Self->FBuffer, &A, &B)) return FALSE;
    if (const char* Url = Self->LinkAt(int(AEvent->x), int(AEvent->y))) OpenUri(Self->FWindow, Url);
    return FALSE;
}

gboolean TfrmDocView::OnMotion(GtkWidget*, GdkEventMotion* AEvent, gpointer ASelf) {
    auto* Self = static_cast<TfrmDocView*>(ASelf);
    const bool Over = Self->LinkAt(int(AEvent->x), int(AEvent->y)) != nullptr;
    if (Over != Self->FOverLink) {
        Self->FOverLink = Over;
        GdkWindow* W = gtk_text_view_get_window(Self->wbBrowser, GTK_TEXT_WINDOW_TEXT);
        GdkCursor* C = gdk_cursor_new_from_name(gdk_window_get_display(W), Over ? "pointer" : "text");
        gdk_window_set_cursor(W, C);
        if (C) g_object_unref(C);
    }
    return FALSE;
}

}  // namespace

void ShowDocView(const std::vector<TDocRun>& ARuns, const std::string& ACaption) {
    TfrmDocView Form(ARuns, ACaption);
    RunModal(Form.Window());
}

}  // namespace fr::win
