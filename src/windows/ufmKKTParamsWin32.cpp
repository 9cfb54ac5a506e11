// The forms' header brings <windows.h>, which the common controls' needs first.
#include "windows/uFormsWin32.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "windows/ufmKKTParams.h"

namespace fr::win {

namespace {

constexpr int kGridCount = 3;
const char* const kTabCaptions[kGridCount] = {"Параметры ККТ", "Состояние ККТ", "Денежные счетчики"};

// Control and command identifiers.
enum : int {
    idPages = 100,
    idGrid = 101,  // the grids are idGrid + their index
    idSetClock = 110,
    idClose = 111,
    idValueEditor = 112,
    cmRefresh = 120,
};

class TfrmKKTParams : public TForm {
public:
    explicit TfrmKKTParams(const TFrWindowRequest& ARequest);
    ~TfrmKKTParams() override;
    // Activates the first tab and fills the three grids; runs just before
    // the window is shown, so that a failure's box comes first.
    void FirstFill();

protected:
    LRESULT WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam) override;
    void Layout(int AWidth, int AHeight) override;
    bool PreTranslate(MSG& AMessage) override;
    void DpiChanged() override;

private:
    void AddGrid(int AIndex);
    int Page() const { return int(SendMessageW(pgcMain, TCM_GETCURSEL, 0, 0)); }
    void ShowPage(int AIndex);
    int GridIndex(HWND AWindow) const;
    void SetColumnWidths(int AIndex);

    void Read(uint32_t AGrid);
    void Refresh() { Read(Page() == kgRegistration ? kgRegistration : kgState); }
    void SetClock();
    // Shows the driver's failure over the window; the window stays.
    void ShowFailure(TWaitCursor& ACursor);
    static void OnRows(void* ASelf, uint32_t AGrid, const TFrKktRow* ARows, size_t ACount);

    void CopySelection(HWND AGrid);
    LRESULT CustomDraw(NMLVCUSTOMDRAW& ADraw);
    void ShowMenu(HWND AGrid, LPARAM APoint);
    // Values can be edited in place, as in any grid; nothing is kept or sent.
    void BeginEdit(HWND AGrid, int AItem);
    void EndEdit(bool AKeep);

    const TFrWindowRequest& FRequest;
    HWND pgcMain = nullptr;
    HWND FGrids[kGridCount] = {};
    HWND btnSetDateTime = nullptr;
    HWND btnClose = nullptr;
    HMENU pmGrid = nullptr;
    HWND FEditor = nullptr;  // the value being edited, or null
    HWND FEditGrid = nullptr;
    int FEditItem = -1;
    int FNameWidth = 0;  // the widest name laid out, in pixels
    char FError[1024] = {};
};

TfrmKKTParams::TfrmKKTParams(const TFrWindowRequest& ARequest) : FRequest(ARequest) {
    CreateForm(ARequest.Caption ? ARequest.Caption : "", 678, 577, false, plCentreOnOwner);
    pgcMain = AddControl(WC_TABCONTROLW, L"", WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, idPages);
    for (int I = 0; I < kGridCount; ++I) {
        std::wstring Caption = Wide(kTabCaptions[I]);
        TCITEMW Tab{};
        Tab.mask = TCIF_TEXT;
        Tab.pszText = Caption.data();
        SendMessageW(pgcMain, TCM_INSERTITEMW, WPARAM(I), LPARAM(&Tab));
    }
    for (int I = 0; I < kGridCount; ++I) AddGrid(I);
    btnSetDateTime = AddControl(WC_BUTTONW, L"Установить дату/время ККТ", WS_TABSTOP | BS_PUSHBUTTON, idSetClock);
    btnClose = AddControl(WC_BUTTONW, L"Закрыть", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, idClose);
    // One context menu for the three grids; F5 does the same.
    pmGrid = CreatePopupMenu();
    AppendMenuW(pmGrid, MF_STRING, cmRefresh, L"Обновить данные\tF5");
}

TfrmKKTParams::~TfrmKKTParams() {
    if (pmGrid) DestroyMenu(pmGrid);
}

void TfrmKKTParams::AddGrid(int AIndex) {
    HWND Grid = AddControl(WC_LISTVIEWW, L"", WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SHOWSELALWAYS,
                           idGrid + AIndex, WS_EX_CLIENTEDGE);
    SendMessageW(Grid, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
    const wchar_t* Titles[] = {L"Параметр", L"Значение"};
    for (int C = 0; C < 2; ++C) {
        LVCOLUMNW Column{};
        Column.mask = LVCF_TEXT | LVCF_SUBITEM;
        Column.pszText = const_cast<wchar_t*>(Titles[C]);
        Column.iSubItem = C;
        SendMessageW(Grid, LVM_INSERTCOLUMNW, WPARAM(C), LPARAM(&Column));
    }
    FGrids[AIndex] = Grid;
    SetColumnWidths(AIndex);
}

// The columns as laid out (301 and 298 at 120 dots per inch), the name
// column wider when the longest name needs more (a name cut at the column's
// edge could not be read), the value column taking the rest of the grid's
// width, so that no row needs scrolling sideways.
void TfrmKKTParams::SetColumnWidths(int AIndex) {
    HWND Grid = FGrids[AIndex];
    const int Name = std::max(Scale(301), FNameWidth + Scale(16));
    RECT Client{};
    GetClientRect(Grid, &Client);
    SendMessageW(Grid, LVM_SETCOLUMNWIDTH, 0, Name);
    SendMessageW(Grid, LVM_SETCOLUMNWIDTH, 1, std::max(Scale(120), int(Client.right) - Name));
}

void TfrmKKTParams::DpiChanged() {
    FNameWidth = 0;
    for (int I = 0; I < kGridCount; ++I) {
        const int Count = int(SendMessageW(FGrids[I], LVM_GETITEMCOUNT, 0, 0));
        for (int Item = 0; Item < Count; ++Item) {
            wchar_t Buf[512] = {};
            LVITEMW It{};
            It.pszText = Buf;
            It.cchTextMax = int(std::size(Buf));
            SendMessageW(FGrids[I], LVM_GETITEMTEXTW, WPARAM(Item), LPARAM(&It));
            FNameWidth = std::max(FNameWidth, int(SendMessageW(FGrids[I], LVM_GETSTRINGWIDTHW, 0, LPARAM(Buf))));
        }
    }
    for (int I = 0; I < kGridCount; ++I) SetColumnWidths(I);
}

void TfrmKKTParams::Layout(int AWidth, int AHeight) {
    if (!btnClose) return;
    EndEdit(true);
    const int Margin = Scale(8), ButtonHeight = Scale(31);
    const int ButtonTop = AHeight - Margin - ButtonHeight;
    const int CloseWidth = Scale(94);
    MoveWindow(btnClose, AWidth - Margin - CloseWidth, ButtonTop, CloseWidth, ButtonHeight, TRUE);
    MoveWindow(btnSetDateTime, Margin, ButtonTop, Scale(220), ButtonHeight, TRUE);
    RECT Pages{Margin, Margin, AWidth - Margin, ButtonTop - Margin};
    MoveWindow(pgcMain, Pages.left, Pages.top, Pages.right - Pages.left, Pages.bottom - Pages.top, TRUE);
    // The grids lie over the tab control's display area, above it.
    SendMessageW(pgcMain, TCM_ADJUSTRECT, FALSE, LPARAM(&Pages));
    for (int I = 0; I < kGridCount; ++I) {
        SetWindowPos(FGrids[I], HWND_TOP, Pages.left, Pages.top, Pages.right - Pages.left, Pages.bottom - Pages.top, 0);
        SetColumnWidths(I);
    }
}

void TfrmKKTParams::ShowPage(int AIndex) {
    EndEdit(true);
    for (int I = 0; I < kGridCount; ++I) ShowWindow(FGrids[I], I == AIndex ? SW_SHOW : SW_HIDE);
    // The clock is set from the state tab only.
    ShowWindow(btnSetDateTime, AIndex == kgState ? SW_SHOW : SW_HIDE);
    FocusControl(FGrids[AIndex]);
}

int TfrmKKTParams::GridIndex(HWND AWindow) const {
    for (int I = 0; I < kGridCount; ++I)
        if (AWindow && (AWindow == FGrids[I] || IsChild(FGrids[I], AWindow))) return I;
    return -1;
}

void TfrmKKTParams::Read(uint32_t AGrid) {
    EndEdit(true);
    TWaitCursor Cursor;
    FError[0] = 0;
    if (FRequest.KktRead(FRequest.KktContext, AGrid, OnRows, this, FError, sizeof FError) != 0) ShowFailure(Cursor);
}

void TfrmKKTParams::SetClock() {
    TWaitCursor Cursor;
    FError[0] = 0;
    int32_t State = 0;
    if (FRequest.KktShiftState(FRequest.KktContext, &State, FError, sizeof FError) != 0) return ShowFailure(Cursor);
    if (State != 0) {
        Cursor.Restore();
        if (!AskYesNo(Handle(), "Подтверждение", "Смена открыта. Операция невозможна. Закрыть смену?")) return;
        TWaitCursor Closing;
        if (FRequest.KktCloseShift(FRequest.KktContext, FError, sizeof FError) != 0) return ShowFailure(Closing);
        if (FRequest.KktSetClock(FRequest.KktContext, FError, sizeof FError) != 0) return ShowFailure(Closing);
        return;
    }
    if (FRequest.KktSetClock(FRequest.KktContext, FError, sizeof FError) != 0) ShowFailure(Cursor);
}

void TfrmKKTParams::ShowFailure(TWaitCursor& ACursor) {
    ACursor.Restore();
    ShowError(Handle(), FError[0] ? FError : "Ошибка драйвера");
}

void TfrmKKTParams::OnRows(void* ASelf, uint32_t AGrid, const TFrKktRow* ARows, size_t ACount) {
    auto* Self = static_cast<TfrmKKTParams*>(ASelf);
    if (AGrid >= kGridCount) return;
    HWND Grid = Self->FGrids[AGrid];
    SendMessageW(Grid, WM_SETREDRAW, FALSE, 0);
    SendMessageW(Grid, LVM_DELETEALLITEMS, 0, 0);
    int NameWidth = Self->FNameWidth;
    for (size_t I = 0; I < ACount; ++I) {
        std::wstring Name = Wide(ARows[I].Name ? ARows[I].Name : "");
        std::wstring Value = Wide(ARows[I].Value ? ARows[I].Value : "");
        LVITEMW It{};
        It.mask = LVIF_TEXT;
        It.iItem = int(I);
        It.pszText = Name.data();
        SendMessageW(Grid, LVM_INSERTITEMW, 0, LPARAM(&It));
        It.iSubItem = 1;
        It.pszText = Value.data();
        SendMessageW(Grid, LVM_SETITEMTEXTW, WPARAM(I), LPARAM(&It));
        NameWidth = std::max(NameWidth, int(SendMessageW(Grid, LVM_GETSTRINGWIDTHW, 0, LPARAM(Name.c_str()))));
    }
    Self->FNameWidth = NameWidth;
    SendMessageW(Grid, WM_SETREDRAW, TRUE, 0);
    // The rows may have brought the vertical scroll bar.
    for (int G = 0; G < kGridCount; ++G) Self->SetColumnWidths(G);
    InvalidateRect(Grid, nullptr, TRUE);
}

void TfrmKKTParams::FirstFill() {
    SendMessageW(pgcMain, TCM_SETCURSEL, kgRegistration, 0);
    ShowPage(kgRegistration);
    Read(kgRegistration);
    Read(kgState);
}

// Selected rows as "name<TAB>value" lines, for a message to support or a
// note.
void TfrmKKTParams::CopySelection(HWND AGrid) {
    std::wstring Text;
    for (int Item = -1; (Item = int(SendMessageW(AGrid, LVM_GETNEXTITEM, WPARAM(Item), LVNI_SELECTED))) >= 0;) {
        for (int Column = 0; Column < 2; ++Column) {
            wchar_t Buf[1024] = {};
            LVITEMW It{};
            It.iSubItem = Column;
            It.pszText = Buf;
            It.cchTextMax = int(std::size(Buf));
            SendMessageW(AGrid, LVM_GETITEMTEXTW, WPARAM(Item), LPARAM(&It));
            Text += Buf;
            Text += Column == 0 ? L"\t" : L"\r\n";
        }
    }
    if (!OpenClipboard(Handle())) return;
    EmptyClipboard();
    if (HGLOBAL Memory = GlobalAlloc(GMEM_MOVEABLE, (Text.size() + 1) * sizeof(wchar_t))) {
        if (void* P = GlobalLock(Memory)) {
            std::copy(Text.c_str(), Text.c_str() + Text.size() + 1, static_cast<wchar_t*>(P));
            GlobalUnlock(Memory);
            if (!SetClipboardData(CF_UNICODETEXT, Memory)) GlobalFree(Memory);
        } else {
            GlobalFree(Memory);
        }
    }
    CloseClipboard();
}

// The name column is painted like the window's face.
LRESULT TfrmKKTParams::CustomDraw(NMLVCUSTOMDRAW& ADraw) {
    switch (ADraw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
            return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
            ADraw.clrText = GetSysColor(COLOR_WINDOWTEXT);
            ADraw.clrTextBk = GetSysColor(ADraw.iSubItem == 0 ? COLOR_BTNFACE : COLOR_WINDOW);
            return CDRF_NEWFONT;
        default:
            return CDRF_DODEFAULT;
    }
}

void TfrmKKTParams::ShowMenu(HWND AGrid, LPARAM APoint) {
    POINT At{short(LOWORD(APoint)), short(HIWORD(APoint))};
    if (APoint == -1) {
        // From the keyboard: at the focused row, or the grid's corner.
        RECT R{};
        const int Item = int(SendMessageW(AGrid, LVM_GETNEXTITEM, WPARAM(-1), LVNI_FOCUSED));
        R.left = LVIR_LABEL;
        if (Item < 0 || !SendMessageW(AGrid, LVM_GETITEMRECT, WPARAM(Item), LPARAM(&R))) R = {};
        At = {R.left + Scale(8), R.bottom};
        ClientToScreen(AGrid, &At);
    }
    TrackPopupMenu(pmGrid, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, At.x, At.y, 0, Handle(), nullptr);
}

void TfrmKKTParams::BeginEdit(HWND AGrid, int AItem) {
    EndEdit(true);
    RECT Cell{};
    Cell.top = 1;  // the value's column
    Cell.left = LVIR_BOUNDS;
    if (AItem < 0 || !SendMessageW(AGrid, LVM_GETSUBITEMRECT, WPARAM(AItem), LPARAM(&Cell))) return;
    MapWindowPoints(AGrid, Handle(), reinterpret_cast<POINT*>(&Cell), 2);
    wchar_t Buf[1024] = {};
    LVITEMW It{};
    It.iSubItem = 1;
    It.pszText = Buf;
    It.cchTextMax = int(std::size(Buf));
    SendMessageW(AGrid, LVM_GETITEMTEXTW, WPARAM(AItem), LPARAM(&It));
    FEditor = AddControl(WC_EDITW, Buf, WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, idValueEditor);
    FEditGrid = AGrid;
    FEditItem = AItem;
    SetWindowPos(FEditor, HWND_TOP, Cell.left, Cell.top, Cell.right - Cell.left, Cell.bottom - Cell.top, 0);
    SendMessageW(FEditor, EM_SETSEL, 0, -1);
    SetFocus(FEditor);
}

void TfrmKKTParams::EndEdit(bool AKeep) {
    if (!FEditor) return;
    HWND Editor = FEditor;
    FEditor = nullptr;
    if (AKeep) {
        std::wstring Text = WindowText(Editor);
        LVITEMW It{};
        It.iSubItem = 1;
        It.pszText = Text.data();
        SendMessageW(FEditGrid, LVM_SETITEMTEXTW, WPARAM(FEditItem), LPARAM(&It));
    }
    const bool HadFocus = GetFocus() == Editor;
    DestroyWindow(Editor);
    if (HadFocus) SetFocus(FEditGrid);
}

// F5 refreshes. Ctrl+Tab and Ctrl+Page Down go to the next tab, with Shift
// or Page Up to the previous one. In a grid Ctrl+C (or Ctrl+Insert) copies
// the selected rows, Ctrl+A selects them all and F2 edits the focused
// row's value; in the value's editor Enter keeps the text and Escape drops
// it.
bool TfrmKKTParams::PreTranslate(MSG& AMessage) {
    if (AMessage.message != WM_KEYDOWN) return false;
    const WPARAM Key = AMessage.wParam;
    const bool Ctrl = GetKeyState(VK_CONTROL) < 0, Shift = GetKeyState(VK_SHIFT) < 0;
    if (FEditor && AMessage.hwnd == FEditor) {
        if (Key != VK_RETURN && Key != VK_ESCAPE) return false;
        EndEdit(Key == VK_RETURN);
        return true;
    }
    if (Ctrl && (Key == VK_TAB || Key == VK_NEXT || Key == VK_PRIOR)) {
        const bool Back = Key == VK_PRIOR || (Key == VK_TAB && Shift);
        const int Next = (Page() + (Back ? kGridCount - 1 : 1)) % kGridCount;
        SendMessageW(pgcMain, TCM_SETCURSEL, WPARAM(Next), 0);
        ShowPage(Next);
        return true;
    }
    const int Grid = GridIndex(AMessage.hwnd);
    if (Key == VK_F5 && !Ctrl) {
        Refresh();
        return true;
    }
    if (Grid < 0) return false;
    if (Ctrl && (Key == 'C' || Key == VK_INSERT)) {
        CopySelection(FGrids[Grid]);
        return true;
    }
    if (Ctrl && Key == 'A') {
        LVITEMW It{};
        It.stateMask = It.state = LVIS_SELECTED;
        SendMessageW(FGrids[Grid], LVM_SETITEMSTATE, WPARAM(-1), LPARAM(&It));
        return true;
    }
    if (Key == VK_F2) {
        BeginEdit(FGrids[Grid], int(SendMessageW(FGrids[Grid], LVM_GETNEXTITEM, WPARAM(-1), LVNI_FOCUSED)));
        return true;
    }
    return false;
}

LRESULT TfrmKKTParams::WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    switch (AMessage) {
        case WM_COMMAND:
            switch (LOWORD(AWParam)) {
                case idClose:
                    Close();
                    return 0;
                case idSetClock:
                    SetClock();
                    return 0;
                case cmRefresh:
                    Refresh();
                    return 0;
                case idValueEditor:
                    if (HIWORD(AWParam) == EN_KILLFOCUS) EndEdit(true);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CONTEXTMENU: {
            const int Grid = GridIndex(reinterpret_cast<HWND>(AWParam));
            if (Grid < 0) break;
            ShowMenu(FGrids[Grid], ALParam);
            return 0;
        }
        case WM_NOTIFY: {
            const NMHDR& N = *reinterpret_cast<const NMHDR*>(ALParam);
            if (N.hwndFrom == pgcMain && N.code == TCN_SELCHANGE) {
                ShowPage(Page());
                return 0;
            }
            if (GridIndex(N.hwndFrom) < 0) break;
            if (N.code == NM_CUSTOMDRAW) return CustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(ALParam));
            if (N.code == LVN_BEGINSCROLL) EndEdit(true);
            if (N.code == NM_DBLCLK) {
                const NMITEMACTIVATE& A = *reinterpret_cast<const NMITEMACTIVATE*>(ALParam);
                if (A.iSubItem == 1) BeginEdit(N.hwndFrom, A.iItem);
            }
            break;
        }
        default:
            break;
    }
    return TForm::WndProc(AMessage, AWParam, ALParam);
}

}  // namespace

void ShowKktDataWindow(const TFrWindowRequest& ARequest) {
    TfrmKKTParams Form(ARequest);
    Form.ShowModal([&Form] { Form.FirstFill(); });
}

}  // namespace fr::win
