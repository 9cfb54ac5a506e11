#include "windows/ufmKKTParams.h"

#include <algorithm>
#include <string>

#include "windows/uGtkCommon.h"

namespace fr::win {

namespace {

constexpr int kGridCount = 3;
const char* const kTabCaptions[kGridCount] = {"Параметры ККТ", "Состояние ККТ", "Денежные счетчики"};

enum { colName, colValue, colCount };

// The hourglass over the window while the driver works (over its owner
// while it is not shown yet); the previous cursor comes back when it goes
// out of scope, also after a failure.
class TWaitCursor {
public:
    explicit TWaitCursor(GtkWindow* AWindow) : FWindow(CursorWindow(AWindow)) {
        if (!FWindow) return;
        GdkCursor* Wait = gdk_cursor_new_from_name(gdk_window_get_display(FWindow), "wait");
        gdk_window_set_cursor(FWindow, Wait);
        if (Wait) g_object_unref(Wait);
        gdk_display_flush(gdk_window_get_display(FWindow));
    }
    ~TWaitCursor() { Restore(); }
    void Restore() {
        if (FWindow) gdk_window_set_cursor(FWindow, nullptr);
        FWindow = nullptr;
    }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    static GdkWindow* CursorWindow(GtkWindow* AWindow) {
        if (gtk_widget_get_mapped(GTK_WIDGET(AWindow))) return gtk_widget_get_window(GTK_WIDGET(AWindow));
        GtkWindow* Owner = gtk_window_get_transient_for(AWindow);
        return Owner && gtk_widget_get_mapped(GTK_WIDGET(Owner)) ? gtk_widget_get_window(GTK_WIDGET(Owner)) : nullptr;
    }
    GdkWindow* FWindow;
};

class TfrmKKTParams {
public:
    explicit TfrmKKTParams(const TFrWindowRequest& ARequest);
    GtkWindow* Window() const { return FWindow; }
    // Activates the first tab and fills the three grids; runs just before
    // the window is shown, so that it opens at the size its names need.
    void FirstFill();

private:
    GtkWidget* NewGrid(int AIndex);
    // Fills the registration tab, or the state and counters tabs.
    void FillRegistration() { Read(kgRegistration); }
    void FillState() { Read(kgState); }
    void Read(uint32_t AGrid);
    void SetClock();
    // Shows the driver's failure over the window; the window stays.
    void ShowFailure(TWaitCursor& ACursor);

    static void OnRows(void* ASelf, uint32_t AGrid, const TFrKktRow* ARows, size_t ACount);
    static void OnPageSwitched(GtkNotebook*, GtkWidget*, guint APage, gpointer ASelf);
    static void OnRefresh(GtkMenuItem*, gpointer ASelf);
    static void OnSetClock(GtkButton*, gpointer ASelf);
    static gboolean OnGridButton(GtkWidget* AGrid, GdkEventButton* AEvent, gpointer ASelf);
    static gboolean OnGridMenuKey(GtkWidget* AGrid, gpointer ASelf);
    static gboolean OnGridKey(GtkWidget* AGrid, GdkEventKey* AEvent, gpointer ASelf);
    static void OnValueEdited(GtkCellRendererText*, gchar* APath, gchar* AText, gpointer AStore);
    static void OnDestroy(GtkWidget*, gpointer ASelf);

    const TFrWindowRequest& FRequest;
    GtkWindow* FWindow;
    GtkNotebook* pgcMain;
    GtkTreeView* FGrids[kGridCount] = {};
    GtkListStore* FStores[kGridCount] = {};
    GtkWidget* pmGrid;
    GtkWidget* btnSetDateTime;
    GtkTreeViewColumn* FNameColumns[kGridCount] = {};
    char FError[1024] = {};
};

TfrmKKTParams::TfrmKKTParams(const TFrWindowRequest& ARequest) : FRequest(ARequest) {
    FWindow = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(FWindow, ARequest.Caption ? ARequest.Caption : "");
    gtk_window_set_icon_name(FWindow, "document-properties");
    gtk_window_set_type_hint(FWindow, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_resizable(FWindow, FALSE);
    gtk_window_set_position(FWindow, GTK_WIN_POS_CENTER_ON_PARENT);

    GtkWidget* Box = gtk_box_new(GTK_ORIENTATION_VERTICAL, Scaled(8));
    gtk_widget_set_size_request(Box, Scaled(678), Scaled(577));
    gtk_container_set_border_width(GTK_CONTAINER(Box), guint(Scaled(8)));
    gtk_container_add(GTK_CONTAINER(FWindow), Box);

    // One context menu for the three grids.
    pmGrid = gtk_menu_new();
    GtkWidget* Refresh = gtk_menu_item_new_with_label("Обновить данные");
    // F5 in a grid does the same, as in most programs.
    gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(Refresh))), GDK_KEY_F5, GdkModifierType(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(pmGrid), Refresh);
    gtk_widget_show_all(pmGrid);
    gtk_menu_attach_to_widget(GTK_MENU(pmGrid), GTK_WIDGET(FWindow), nullptr);
    g_signal_connect(Refresh, "activate", G_CALLBACK(OnRefresh), this);

    pgcMain = GTK_NOTEBOOK(gtk_notebook_new());
    for (int I = 0; I < kGridCount; ++I) gtk_notebook_append_page(pgcMain, NewGrid(I), gtk_label_new(kTabCaptions[I]));
    gtk_box_pack_start(GTK_BOX(Box), GTK_WIDGET(pgcMain), TRUE, TRUE, 0);

    GtkWidget* Buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, Scaled(8));
    gtk_box_pack_start(GTK_BOX(Box), Buttons, FALSE, FALSE, 0);
    btnSetDateTime = gtk_button_new_with_label("Установить дату/время ККТ");
    gtk_box_pack_start(GTK_BOX(Buttons), btnSetDateTime, FALSE, FALSE, 0);
    // Shown only on the state tab, whatever showing the window does.
    gtk_widget_set_no_show_all(btnSetDateTime, TRUE);
    GtkWidget* btnClose = gtk_button_new_with_label("Закрыть");
    gtk_widget_set_size_request(btnClose, Scaled(94), -1);
    gtk_box_pack_end(GTK_BOX(Buttons), btnClose, FALSE, FALSE, 0);

    g_signal_connect_after(pgcMain, "switch-page", G_CALLBACK(OnPageSwitched), this);
    g_signal_connect(btnSetDateTime, "clicked", G_CALLBACK(OnSetClock), this);
    g_signal_connect_swapped(btnClose, "clicked", G_CALLBACK(gtk_window_close), FWindow);
    g_signal_connect(FWindow, "destroy", G_CALLBACK(OnDestroy), this);
}

GtkWidget* TfrmKKTParams::NewGrid(int AIndex) {
    GtkListStore* Store = gtk_list_store_new(colCount, G_TYPE_STRING, G_TYPE_STRING);
    FStores[AIndex] = Store;
    GtkTreeView* Grid = GTK_TREE_VIEW(gtk_tree_view_new_with_model(GTK_TREE_MODEL(Store)));
    g_object_unref(Store);  // the view holds it
    FGrids[AIndex] = Grid;
    gtk_tree_view_set_grid_lines(Grid, GTK_TREE_VIEW_GRID_LINES_BOTH);
    gtk_tree_view_set_enable_search(Grid, FALSE);
    // A name cut at the column's edge can be read in full over its row.
    gtk_tree_view_set_tooltip_column(Grid, colName);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(Grid), GTK_SELECTION_MULTIPLE);

    // The name column is painted like the window's face, single line,
    // vertically centred, with a small indent.
    GtkStyleContext* Style = gtk_widget_get_style_context(GTK_WIDGET(FWindow));
    GdkRGBA Face{0.94, 0.94, 0.94, 1.0}, Text{0.0, 0.0, 0.0, 1.0};
    gtk_style_context_lookup_color(Style, "theme_bg_color", &Face);
    gtk_style_context_lookup_color(Style, "theme_fg_color", &Text);
    GtkCellRenderer* NameCell = gtk_cell_renderer_text_new();
    g_object_set(NameCell, "cell-background-rgba", &Face, "foreground-rgba", &Text, "ellipsize", PANGO_ELLIPSIZE_END,
                 "single-paragraph-mode", TRUE, "xpad", Scaled(2), "yalign", 0.5, nullptr);
    GtkTreeViewColumn* Name = gtk_tree_view_column_new_with_attributes("Параметр", NameCell, "text", colName, nullptr);
    FNameColumns[AIndex] = Name;

    // Values can be edited in place, as in any grid; nothing is kept or sent.
    GtkCellRenderer* ValueCell = gtk_cell_renderer_text_new();
    g_object_set(ValueCell, "editable", TRUE, "single-paragraph-mode", TRUE, "xpad", Scaled(2), nullptr);
    g_signal_connect(ValueCell, "edited", G_CALLBACK(OnValueEdited), Store);
    GtkTreeViewColumn* Value =
        gtk_tree_view_column_new_with_attributes("Значение", ValueCell, "text", colValue, nullptr);

    const std::pair<GtkTreeViewColumn*, int> Columns[] = {{Name, 301}, {Value, 298}};
    for (const auto& [Column, Width] : Columns) {
        gtk_tree_view_column_set_sizing(Column, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_fixed_width(Column, Scaled(Width));
        gtk_tree_view_column_set_resizable(Column, TRUE);
        gtk_tree_view_append_column(Grid, Column);
    }

    g_signal_connect(Grid, "button-press-event", G_CALLBACK(OnGridButton), this);
    g_signal_connect(Grid, "popup-menu", G_CALLBACK(OnGridMenuKey), this);
    g_signal_connect(Grid, "key-press-event", G_CALLBACK(OnGridKey), this);

    GtkWidget* Scroll = gtk_scrolled_window_new(nullptr, nullptr);
    // The grid's width is the columns' and the window grows with it.
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(Scroll), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(Scroll), TRUE);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(Scroll), FALSE);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(Scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(Scroll), GTK_WIDGET(Grid));
    return Scroll;
}

void TfrmKKTParams::Read(uint32_t AGrid) {
    TWaitCursor Cursor(FWindow);
    FError[0] = 0;
    if (FRequest.KktRead(FRequest.KktContext, AGrid, OnRows, this, FError, sizeof FError) != 0) ShowFailure(Cursor);
}

void TfrmKKTParams::SetClock() {
    TWaitCursor Cursor(FWindow);
    FError[0] = 0;
    int32_t State = 0;
    if (FRequest.KktShiftState(FRequest.KktContext, &State, FError, sizeof FError) != 0) return ShowFailure(Cursor);
    if (State != 0) {
        Cursor.Restore();
        if (!AskYesNo(FWindow, "Подтверждение", "Смена открыта. Операция невозможна. Закрыть смену?")) return;
        TWaitCursor Closing(FWindow);
        if (FRequest.KktCloseShift(FRequest.KktContext, FError, sizeof FError) != 0) return ShowFailure(Closing);
        if (FRequest.KktSetClock(FRequest.KktContext, FError, sizeof FError) != 0) return ShowFailure(Closing);
        return;
    }
    if (FRequest.KktSetClock(FRequest.KktContext, FError, sizeof FError) != 0) ShowFailure(Cursor);
}

void TfrmKKTParams::ShowFailure(TWaitCursor& ACursor) {
    ACursor.Restore();
    ShowError(FWindow, FError[0] ? FError : "Ошибка драйвера");
}

void TfrmKKTParams::OnRows(void* ASelf, uint32_t AGrid, const TFrKktRow* ARows, size_t ACount) {
    auto* Self = static_cast<TfrmKKTParams*>(ASelf);
    if (AGrid >= kGridCount) return;
    GtkListStore* Store = Self->FStores[AGrid];
    gtk_list_store_clear(Store);
    int NameWidth = 0;
    for (size_t I = 0; I < ACount; ++I) {
        const char* Name = ARows[I].Name ? ARows[I].Name : "";
        gtk_list_store_insert_with_values(Store, nullptr, -1, colName, Name, colValue,
                                          ARows[I].Value ? ARows[I].Value : "", -1);
        PangoLayout* Layout = gtk_widget_create_pango_layout(GTK_WIDGET(Self->FGrids[AGrid]), Name);
        int Width = 0;
        pango_layout_get_pixel_size(Layout, &Width, nullptr);
        g_object_unref(Layout);
        NameWidth = std::max(NameWidth, Width);
    }
    // The name column is as wide as laid out, or wider when the desktop's
    // font needs more room for the longest name: a cut name cannot be read.
    GtkTreeViewColumn* Column = Self->FNameColumns[AGrid];
    const int Needed = NameWidth + Scaled(16);
    if (Needed > gtk_tree_view_column_get_fixed_width(Column)) gtk_tree_view_column_set_fixed_width(Column, Needed);
}

void TfrmKKTParams::FirstFill() {
    gtk_notebook_set_current_page(pgcMain, kgRegistration);
    gtk_widget_grab_focus(GTK_WIDGET(FGrids[kgRegistration]));
    FillRegistration();
    FillState();
}

void TfrmKKTParams::OnPageSwitched(GtkNotebook*, GtkWidget*, guint APage, gpointer ASelf) {
    auto* Self = static_cast<TfrmKKTParams*>(ASelf);
    gtk_widget_set_visible(Self->btnSetDateTime, APage == kgState);
    if (APage < kGridCount) gtk_widget_grab_focus(GTK_WIDGET(Self->FGrids[APage]));
}

void TfrmKKTParams::OnRefresh(GtkMenuItem*, gpointer ASelf) {
    auto* Self = static_cast<TfrmKKTParams*>(ASelf);
    if (gtk_notebook_get_current_page(Self->pgcMain) == kgRegistration)
        Self->FillRegistration();
    else
        Self->FillState();
}

void TfrmKKTParams::OnSetClock(GtkButton*, gpointer ASelf) {
    static_cast<TfrmKKTParams*>(ASelf)->SetClock();
}

gboolean TfrmKKTParams::OnGridButton(GtkWidget*, GdkEventButton* AEvent, gpointer ASelf) {
    if (AEvent->type != GDK_BUTTON_PRESS || AEvent->button != GDK_BUTTON_SECONDARY) return FALSE;
    gtk_menu_popup_at_pointer(GTK_MENU(static_cast<TfrmKKTParams*>(ASelf)->pmGrid),
                              reinterpret_cast<GdkEvent*>(AEvent));
    return TRUE;
}

gboolean TfrmKKTParams::OnGridMenuKey(GtkWidget* AGrid, gpointer ASelf) {
    gtk_menu_popup_at_widget(GTK_MENU(static_cast<TfrmKKTParams*>(ASelf)->pmGrid), AGrid, GDK_GRAVITY_CENTER,
                             GDK_GRAVITY_NORTH_WEST, nullptr);
    return TRUE;
}

// F5 refreshes. Ctrl+Tab and Ctrl+Page Down go to the next tab, with Shift or Page Up to
// the previous one (the grid would take Ctrl+Page keys for itself). Ctrl+C
// copies the selected rows as "name<TAB>value" lines, for a message to
// support or a note.
gboolean TfrmKKTParams::OnGridKey(GtkWidget* AGrid, GdkEventKey* AEvent, gpointer ASelf) {
    const bool Ctrl = (AEvent->state & GDK_CONTROL_MASK) != 0;
    if (AEvent->keyval == GDK_KEY_F5 && !Ctrl) {
        OnRefresh(nullptr, ASelf);
        return TRUE;
    }
    if (!Ctrl) return FALSE;
    GtkNotebook* Pages = static_cast<TfrmKKTParams*>(ASelf)->pgcMain;
    const int Page = gtk_notebook_get_current_page(Pages);
    switch (AEvent->keyval) {
        case GDK_KEY_Tab:
        case GDK_KEY_Page_Down:
        case GDK_KEY_KP_Page_Down:
            gtk_notebook_set_current_page(Pages, (Page + 1) % kGridCount);
            return TRUE;
        case GDK_KEY_ISO_Left_Tab:
        case GDK_KEY_Page_Up:
        case GDK_KEY_KP_Page_Up:
            gtk_notebook_set_current_page(Pages, (Page + kGridCount - 1) % kGridCount);
            return TRUE;
        case GDK_KEY_c:
        case GDK_KEY_C:
        case GDK_KEY_Insert:
            break;
        default:
            return FALSE;
    }
    GtkTreeModel* Model = nullptr;
    GList* Rows = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(GTK_TREE_VIEW(AGrid)), &Model);
    std::string Text;
    for (GList* L = Rows; L; L = L->next) {
        GtkTreeIter It;
        if (!gtk_tree_model_get_iter(Model, &It, static_cast<GtkTreePath*>(L->data))) continue;
        gchar *Name = nullptr, *Value = nullptr;
        gtk_tree_model_get(Model, &It, colName, &Name, colValue, &Value, -1);
        Text += std::string(Name ? Name : "") + "\t" + (Value ? Value : "") + "\n";
        g_free(Name);
        g_free(Value);
    }
    g_list_free_full(Rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    gtk_clipboard_set_text(gtk_widget_get_clipboard(AGrid, GDK_SELECTION_CLIPBOARD), Text.c_str(), int(Text.size()));
    return TRUE;
}

void TfrmKKTParams::OnValueEdited(GtkCellRendererText*, gchar* APath, gchar* AText, gpointer AStore) {
    GtkTreeIter It;
    if (gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(AStore), &It, APath))
        gtk_list_store_set(GTK_LIST_STORE(AStore), &It, colValue, AText, -1);
}

void TfrmKKTParams::OnDestroy(GtkWidget*, gpointer ASelf) {
    gtk_widget_destroy(static_cast<TfrmKKTParams*>(ASelf)->pmGrid);
}

}  // namespace

void ShowKktDataWindow(const TFrWindowRequest& ARequest) {
    TfrmKKTParams Form(ARequest);
    RunModal(Form.Window(), [&Form] { Form.FirstFill(); });
}

}  // namespace fr::win
