// The forms' header brings <windows.h>, which RichEdit's needs first.
#include "windows/uFormsWin32.h"

#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/uSystem.h"
#include "windows/ufmDocView.h"

namespace fr::win {

namespace {

enum : int { idBrowser = 100 };

// Sizes of the text in points, and the indent of a nesting level in twips.
constexpr int kBodyPoints = 9;
constexpr double kHeadingScale[] = {1.7, 1.4, 1.2, 1.1, 1.0, 1.0};
constexpr LONG kIndentTwips = 330;

// The colours of links, code and quotes.
constexpr COLORREF kLinkColour = RGB(0x1a, 0x5f, 0xb4);
constexpr COLORREF kCodeBackground = RGB(0xee, 0xf0, 0xf2);
constexpr COLORREF kQuoteColour = RGB(0x55, 0x55, 0x55);

// A link's characters and where it leads.
struct TLinkRange {
    LONG Start, End;
    std::string Url;
};

// An address the shell can open: a scheme ("https:", "mailto:") first.
bool HasScheme(const std::string& AUrl) {
    const size_t Colon = AUrl.find(':');
    if (Colon == std::string::npos || Colon < 2) return false;
    for (size_t I = 0; I < Colon; ++I) {
        const char C = AUrl[I];
        const bool Letter = (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
        if (!Letter && (I == 0 || !((C >= '0' && C <= '9') || C == '+' || C == '-' || C == '.'))) return false;
    }
    return true;
}

class TfrmDocView : public TForm {
public:
    TfrmDocView(const std::vector<TDocRun>& ARuns, const std::string& ACaption);
    ~TfrmDocView() override;
    // The text from its beginning, once the window is laid out.
    void ShowFromTop();

protected:
    LRESULT WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam) override;
    void Layout(int AWidth, int AHeight) override;

private:
    void Insert(const TDocRun& ARun);
    LONG TextLength() const;
    void OpenLink(const CHARRANGE& ARange);

    HMODULE FRichEdit = nullptr;
    HWND wbBrowser = nullptr;
    std::vector<TLinkRange> FLinks;
};

TfrmDocView::TfrmDocView(const std::vector<TDocRun>& ARuns, const std::string& ACaption) {
    // RichEdit 4.1 where the system has it, else 2.0/3.0.
    const wchar_t* Class = MSFTEDIT_CLASS;
    FRichEdit = LoadLibraryW(L"Msftedit.dll");
    if (!FRichEdit) {
        FRichEdit = LoadLibraryW(L"Riched20.dll");
        Class = RICHEDIT_CLASSW;
    }
    if (!FRichEdit) throw std::runtime_error("Не удалось загрузить RichEdit: " + SystemErrorText(LastSystemError()));
    CreateForm(ACaption.empty() ? "Документ" : ACaption, 633, 425, true, plCentreOnScreen);
    SetStockIcon(SIID_HELP);
    wbBrowser = AddControl(
        Class, L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL, idBrowser);
    SendMessageW(wbBrowser, EM_SETTEXTMODE, TM_RICHTEXT, 0);
    SendMessageW(wbBrowser, EM_AUTOURLDETECT, FALSE, 0);
    SendMessageW(wbBrowser, EM_SETEVENTMASK, 0, ENM_LINK);
    for (const TDocRun& R : ARuns) Insert(R);
    // Read-only once filled: the operator reads, selects and copies.
    SendMessageW(wbBrowser, EM_SETREADONLY, TRUE, 0);
    FocusControl(wbBrowser);
}

void TfrmDocView::ShowFromTop() {
    SendMessageW(wbBrowser, EM_SETSEL, 0, 0);
    SendMessageW(wbBrowser, WM_VSCROLL, SB_TOP, 0);
}

TfrmDocView::~TfrmDocView() {
    // The control goes before the library that draws it.
    if (wbBrowser && IsWindow(wbBrowser)) DestroyWindow(wbBrowser);
    if (FRichEdit) FreeLibrary(FRichEdit);
}

LONG TfrmDocView::TextLength() const {
    GETTEXTLENGTHEX Length{GTL_NUMCHARS | GTL_PRECISE, 1200};
    return LONG(SendMessageW(wbBrowser, EM_GETTEXTLENGTHEX, WPARAM(&Length), 0));
}

// Each run is added at the end in its own look; its paragraphs get the
// indent and spacing of its block.
void TfrmDocView::Insert(const TDocRun& ARun) {
    std::wstring Text = Wide(ARun.Text);
    for (wchar_t& C : Text)
        if (C == L'\n') C = L'\r';  // RichEdit ends a paragraph with CR
    const LONG Start = TextLength();
    SendMessageW(wbBrowser, EM_SETSEL, Start, Start);

    CHARFORMAT2W F{};
    F.cbSize = sizeof F;
    F.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_LINK | CFM_FACE | CFM_SIZE | CFM_COLOR | CFM_BACKCOLOR |
               CFM_CHARSET;
    F.bCharSet = DEFAULT_CHARSET;
    const bool Mono = ARun.Code || ARun.CodeBlock;
    lstrcpynW(F.szFaceName, Mono ? L"Consolas" : L"Tahoma", LF_FACESIZE);
    F.bPitchAndFamily = Mono ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH | FF_SWISS;
    const double Scale = ARun.Heading ? kHeadingScale[std::min<int>(ARun.Heading, 6) - 1] : 1.0;
    F.yHeight = LONG(kBodyPoints * 20 * Scale);
    if (ARun.Heading || ARun.Strong) F.dwEffects |= CFE_BOLD;
    if (ARun.Emph || ARun.Quote) F.dwEffects |= CFE_ITALIC;
    F.dwEffects |= CFE_AUTOCOLOR | CFE_AUTOBACKCOLOR;
    if (ARun.Quote) {
        F.dwEffects &= ~CFE_AUTOCOLOR;
        F.crTextColor = kQuoteColour;
    }
    if (Mono) {
        F.dwEffects &= ~CFE_AUTOBACKCOLOR;
        F.crBackColor = kCodeBackground;
    }
    if (!ARun.Link.empty()) {
        F.dwEffects |= CFE_LINK | CFE_UNDERLINE;
        F.dwEffects &= ~CFE_AUTOCOLOR;
        F.crTextColor = kLinkColour;
    }
    SendMessageW(wbBrowser, EM_SETCHARFORMAT, SCF_SELECTION, LPARAM(&F));
    SendMessageW(wbBrowser, EM_REPLACESEL, FALSE, LPARAM(Text.c_str()));
    const LONG End = TextLength();
    if (!ARun.Link.empty()) FLinks.push_back({Start, End, ARun.Link});

    // The paragraph marks a run begins with end the paragraph before it,
    // which keeps its own look.
    LONG First = Start;
    for (wchar_t C : Text) {
        if (C != L'\r') break;
        ++First;
    }
    PARAFORMAT2 P{};
    P.cbSize = sizeof P;
    P.dwMask = PFM_STARTINDENT | PFM_SPACEBEFORE;
    P.dxStartIndent = kIndentTwips * ARun.Indent;
    P.dySpaceBefore = ARun.Heading ? (ARun.Heading <= 2 ? 160 : 80) : 0;
    SendMessageW(wbBrowser, EM_SETSEL, First, End);
    SendMessageW(wbBrowser, EM_SETPARAFORMAT, 0, LPARAM(&P));
}

void TfrmDocView::Layout(int AWidth, int AHeight) {
    if (!wbBrowser) return;
    MoveWindow(wbBrowser, 0, 0, AWidth, AHeight, TRUE);
    // Margins around the text, as a page has.
    RECT Client{};
    GetClientRect(wbBrowser, &Client);
    RECT Text{Client.left + Scale(14), Client.top + Scale(10), Client.right - Scale(14), Client.bottom - Scale(10)};
    SendMessageW(wbBrowser, EM_SETRECT, 0, LPARAM(&Text));
}

// Links open in the default browser; a drag that selected text is no click.
void TfrmDocView::OpenLink(const CHARRANGE& ARange) {
    CHARRANGE Selection{};
    SendMessageW(wbBrowser, EM_EXGETSEL, 0, LPARAM(&Selection));
    if (Selection.cpMax > Selection.cpMin) return;
    for (const TLinkRange& L : FLinks)
        if (ARange.cpMin < L.End && ARange.cpMax > L.Start) {
            if (HasScheme(L.Url)) OpenWithShell(Handle(), L"open", L.Url);
            return;
        }
}

LRESULT TfrmDocView::WndProc(UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    if (AMessage == WM_NOTIFY) {
        const auto& N = *reinterpret_cast<const NMHDR*>(ALParam);
        if (N.hwndFrom == wbBrowser && N.code == EN_LINK) {
            const auto& Link = *reinterpret_cast<const ENLINK*>(ALParam);
            if (Link.msg == WM_LBUTTONUP) OpenLink(Link.chrg);
            return 0;
        }
    }
    return TForm::WndProc(AMessage, AWParam, ALParam);
}

}  // namespace

void ShowDocView(const std::vector<TDocRun>& ARuns, const std::string& ACaption) {
    TfrmDocView Form(ARuns, ACaption);
    Form.ShowModal([&Form] { Form.ShowFromTop(); });
}

}  // namespace fr::win
