#include "windows/uMarkdownRenderer.h"

#include <cmark.h>
#include <zip.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "base/uSystem.h"

namespace fr::win {

namespace fs = std::filesystem;

namespace {

const char kBom[] = "\xEF\xBB\xBF";

std::string ReadBytes(const std::string& APath) {
    std::ifstream F(PathFromUtf8(APath), std::ios::binary);
    if (!F) throw std::runtime_error("File not found: " + APath);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

void WriteBytes(const std::string& APath, std::string_view ABytes) {
    std::ofstream F(PathFromUtf8(APath), std::ios::binary | std::ios::trunc);
    F.write(ABytes.data(), std::streamsize(ABytes.size()));
    F.close();
    if (!F) throw std::runtime_error("Не удалось записать файл " + APath);
}

std::string EscapeAttr(std::string_view S) {
    std::string R;
    for (char C : S) {
        switch (C) {
            case '&':
                R += "&amp;";
                break;
            case '"':
                R += "&quot;";
                break;
            case '<':
                R += "&lt;";
                break;
            case '>':
                R += "&gt;";
                break;
            default:
                R += C;
        }
    }
    return R;
}

std::string LowerExtension(const std::string& AName) {
    return LowerCase(Utf8FromPath(PathFromUtf8(AName).extension()));
}

// A name from the archive that stays inside the working folder: relative,
// without "..", without empty or "." parts.
bool SafeEntryName(const std::string& AName) {
    if (AName.empty() || AName[0] == '/' || AName.find('\\') != std::string::npos) return false;
    size_t Start = 0;
    while (Start <= AName.size()) {
        size_t End = AName.find('/', Start);
        if (End == std::string::npos) End = AName.size();
        const std::string_view Part(AName.data() + Start, End - Start);
        // A trailing "/" (a folder entry) leaves one empty last part.
        if ((Part.empty() && End != AName.size()) || Part == "." || Part == "..") return false;
        Start = End + 1;
    }
    return true;
}

struct TZipCloser {
    void operator()(zip_t* Z) const { zip_discard(Z); }
};
struct TZipFileCloser {
    void operator()(zip_file_t* F) const { zip_fclose(F); }
};

std::runtime_error DamagedPackage(zip_error_t& AError) {
    const std::string Text = zip_error_strerror(&AError);
    zip_error_fini(&AError);
    return std::runtime_error("Пакет справки повреждён: " + Text);
}

// Unpacks every safe entry of the archive APackage into ADir; returns the
// names of the top-level files in archive order. The archive is read from
// memory, so no file name passes through libzip's own conversions.
std::vector<std::string> Unpack(std::string_view APackage, const std::string& ADir) {
    zip_error_t E;
    zip_error_init(&E);
    zip_source_t* Source = zip_source_buffer_create(APackage.data(), APackage.size(), 0, &E);
    if (!Source) throw DamagedPackage(E);
    std::unique_ptr<zip_t, TZipCloser> Zip(zip_open_from_source(Source, ZIP_RDONLY, &E));
    if (!Zip) {
        zip_source_free(Source);
        throw DamagedPackage(E);
    }
    zip_error_fini(&E);
    std::vector<std::string> TopLevel;
    const zip_int64_t Count = zip_get_num_entries(Zip.get(), 0);
    for (zip_int64_t I = 0; I < Count; ++I) {
        zip_stat_t St;
        if (zip_stat_index(Zip.get(), zip_uint64_t(I), 0, &St) != 0 || !(St.valid & ZIP_STAT_NAME)) continue;
        const std::string Name = St.name;
        if (!SafeEntryName(Name)) continue;
        const fs::path Target = PathFromUtf8(ADir) / PathFromUtf8(Name);
        if (Name.back() == '/') {
            fs::create_directories(Target);
            continue;
        }
        fs::create_directories(Target.parent_path());
        std::unique_ptr<zip_file_t, TZipFileCloser> F(zip_fopen_index(Zip.get(), zip_uint64_t(I), 0));
        if (!F) throw std::runtime_error("Пакет справки повреждён: " + std::string(zip_strerror(Zip.get())));
        std::string Data;
        char Buf[65536];
        zip_int64_t N;
        while ((N = zip_fread(F.get(), Buf, sizeof Buf)) > 0) Data.append(Buf, size_t(N));
        if (N < 0) throw std::runtime_error("Пакет справки повреждён: " + std::string(zip_file_strerror(F.get())));
        WriteBytes(Utf8FromPath(Target), Data);
        if (Name.find('/') == std::string::npos) TopLevel.push_back(Name);
    }
    return TopLevel;
}

// ---- runs -----------------------------------------------------------------------

class TRunBuilder {
public:
    std::vector<TDocRun> Runs;
    TDocRun Look;  // the look of the text added next

    void Add(std::string_view AText) {
        if (AText.empty()) return;
        if (!Runs.empty()) {
            TDocRun& Last = Runs.back();
            TDocRun Probe = Last;
            Probe.Text = Look.Text;
            if (Probe == Look) {
                Last.Text += AText;
                return;
            }
        }
        Runs.push_back(Look);
        Runs.back().Text = std::string(AText);
    }
    // Makes the text end with ACount line ends (none at the very start).
    void Break(int ACount) {
        if (Runs.empty()) return;
        int Have = 0;
        for (auto R = Runs.rbegin(); R != Runs.rend() && Have < ACount; ++R) {
            size_t I = R->Text.size();
            while (I > 0 && R->Text[I - 1] == '\n' && Have < ACount) --I, ++Have;
            if (I > 0) break;
        }
        if (Have >= ACount) return;
        // Line ends carry no inline look, so they join the block around them.
        TDocRun Saved = Look;
        Look.Strong = Look.Emph = Look.Code = false;
        Look.Link.clear();
        Add(std::string(size_t(ACount - Have), '\n'));
        Look = Saved;
    }
};

struct TListState {
    bool Ordered;
    bool Tight;
    int Next;
};

// ---- pipe tables --------------------------------------------------------------
// CommonMark has no tables: a table written the usual way ("| a | b |", a
// delimiter row "|---|:--:|", more rows) stays a paragraph. The viewer shows
// such a paragraph as a table set in aligned columns.

enum TAlign { taLeft, taCentre, taRight };

// The cells of a table row: split at the pipes that are not escaped, the
// row's outer pipes dropped, each cell trimmed.
std::vector<std::string> RowCells(std::string_view ALine) {
    std::string Row = Trim(ALine);
    if (!Row.empty() && Row.front() == '|') Row.erase(0, 1);
    if (!Row.empty() && Row.back() == '|' && (Row.size() < 2 || Row[Row.size() - 2] != '\\')) Row.pop_back();
    std::vector<std::string> Cells(1);
    for (size_t I = 0; I < Row.size(); ++I) {
        if (Row[I] == '\\' && I + 1 < Row.size() && Row[I + 1] == '|') {
            Cells.back() += "\\|";
            ++I;
        } else if (Row[I] == '|') {
            Cells.emplace_back();
        } else {
            Cells.back() += Row[I];
        }
    }
    for (std::string& C : Cells) C = Trim(C);
    return Cells;
}

// The alignment of a delimiter cell (":--", "--:", ":-:", "---"), or none
// when it is no delimiter.
std::optional<TAlign> DelimiterAlign(const std::string& ACell) {
    const bool Left = !ACell.empty() && ACell.front() == ':';
    const bool Right = ACell.size() > 1 && ACell.back() == ':';
    const std::string_view Dashes = std::string_view(ACell).substr(Left, ACell.size() - Left - Right);
    if (Dashes.empty() || Dashes.find_first_not_of('-') != std::string_view::npos) return std::nullopt;
    return Left && Right ? taCentre : Right ? taRight : taLeft;
}

// The text a cell shows: its Markdown read as CommonMark, the markup left
// out.
std::string CellText(const std::string& ACell) {
    std::unique_ptr<cmark_node, void (*)(cmark_node*)> Doc(
        cmark_parse_document(ACell.data(), ACell.size(), CMARK_OPT_DEFAULT), cmark_node_free);
    if (!Doc) throw std::bad_alloc();
    std::unique_ptr<cmark_iter, void (*)(cmark_iter*)> It(cmark_iter_new(Doc.get()), cmark_iter_free);
    std::string Text;
    for (cmark_event_type Ev; (Ev = cmark_iter_next(It.get())) != CMARK_EVENT_DONE;) {
        cmark_node* N = cmark_iter_get_node(It.get());
        const cmark_node_type Type = cmark_node_get_type(N);
        if (Type == CMARK_NODE_TEXT || Type == CMARK_NODE_CODE) Text += cmark_node_get_literal(N);
        if (Type == CMARK_NODE_SOFTBREAK || Type == CMARK_NODE_LINEBREAK) Text += ' ';
    }
    return Text;
}

std::string Padded(const std::string& AText, size_t AWidth, TAlign AAlign) {
    const size_t Space = AWidth - std::min(AWidth, Utf8Length(AText));
    const size_t Before = AAlign == taRight ? Space : AAlign == taCentre ? Space / 2 : 0;
    return std::string(Before, ' ') + AText + std::string(Space - Before, ' ');
}

// The lines of a pipe table set in columns two spaces apart, a rule under
// the header; none when ALines are no table (a header row, a delimiter row
// with as many cells, every line with a pipe).
std::optional<std::string> PipeTable(const std::vector<std::string_view>& ALines) {
    if (ALines.size() < 2) return std::nullopt;
    for (std::string_view L : ALines)
        if (L.find('|') == std::string_view::npos) return std::nullopt;
    const std::vector<std::string> Header = RowCells(ALines[0]);
    const std::vector<std::string> Delimiters = RowCells(ALines[1]);
    if (Delimiters.size() != Header.size()) return std::nullopt;
    std::vector<TAlign> Aligns;
    for (const std::string& D : Delimiters) {
        const std::optional<TAlign> A = DelimiterAlign(D);
        if (!A) return std::nullopt;
        Aligns.push_back(*A);
    }
    // Rows of the header's width: short ones filled, long ones cut.
    std::vector<std::vector<std::string>> Rows;
    for (size_t I = 0; I < ALines.size(); ++I) {
        if (I == 1) continue;
        std::vector<std::string> Cells = RowCells(ALines[I]);
        Cells.resize(Header.size());
        for (std::string& C : Cells) C = CellText(C);
        Rows.push_back(std::move(Cells));
    }
    std::vector<size_t> Widths(Header.size(), 1);
    for (const auto& Row : Rows)
        for (size_t C = 0; C < Row.size(); ++C) Widths[C] = std::max(Widths[C], Utf8Length(Row[C]));
    std::string Text;
    auto AddLine = [&](std::string ALine) {
        while (!ALine.empty() && ALine.back() == ' ') ALine.pop_back();
        Text += (Text.empty() ? "" : "\n") + ALine;
    };
    for (size_t R = 0; R < Rows.size(); ++R) {
        std::string Line;
        for (size_t C = 0; C < Rows[R].size(); ++C) Line += (C ? "  " : "") + Padded(Rows[R][C], Widths[C], Aligns[C]);
        AddLine(Line);
        if (R == 0) {
            std::string Rule;
            for (size_t C = 0; C < Widths.size(); ++C) {
                Rule += C ? "  " : "";
                for (size_t K = 0; K < Widths[C]; ++K) Rule += "\u2500";
            }
            AddLine(Rule);
        }
    }
    return Text;
}

// The source lines AFirst to ALast (counted from 1) of a Markdown text.
std::vector<std::string_view> SourceLines(std::string_view AText, int AFirst, int ALast) {
    std::vector<std::string_view> Lines;
    int Number = 1;
    for (size_t From = 0; From <= AText.size() && Number <= ALast; ++Number) {
        size_t To = AText.find('\n', From);
        if (To == std::string_view::npos) To = AText.size();
        std::string_view Line = AText.substr(From, To - From);
        if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
        if (Number >= AFirst) Lines.push_back(Line);
        From = To + 1;
    }
    return Lines;
}

}  // namespace

std::string DecodeByBom(std::string_view ABytes) {
    if (ABytes.substr(0, 3) == kBom) return Utf32ToUtf8(Utf8ToUtf32(ABytes.substr(3)));
    const bool Le = ABytes.substr(0, 2) == "\xFF\xFE";
    const bool Be = ABytes.substr(0, 2) == "\xFE\xFF";
    if (Le || Be) {
        std::u16string Units;
        for (size_t I = 2; I + 1 < ABytes.size(); I += 2) {
            const auto B0 = uint8_t(ABytes[I]), B1 = uint8_t(ABytes[I + 1]);
            Units.push_back(char16_t(Le ? (B0 | B1 << 8) : (B0 << 8 | B1)));
        }
        return Utf16ToUtf8(Units);
    }
    return Utf32ToUtf8(Utf8ToUtf32(ABytes));
}

std::string MarkdownToHtml(std::string_view AMarkdown) {
    char* Html = cmark_markdown_to_html(AMarkdown.data(), AMarkdown.size(), CMARK_OPT_DEFAULT);
    if (!Html) throw std::bad_alloc();
    std::string R(Html);
    free(Html);
    return R;
}

std::string HtmlFileText(std::string_view AHtml, const std::string& ACssName) {
    std::string R = kBom;
    if (ACssName.empty()) return R.append(AHtml);
    for (const std::string& Line :
         {std::string("<!DOCTYPE html>"), std::string("<html>"), std::string("<head>"),
          "<link href=\"" + EscapeAttr(ACssName) + "\" rel=\"stylesheet\">", std::string("</head>"),
          std::string("<body>"), std::string(AHtml), std::string("</body>"), std::string("</html>")})
        R += Line + "\r\n";
    return R;
}

// Kept as one walk over cmark's events (about 125 lines): every node kind
// reads and changes the same open state (styles, list depth, links, quote
// level), and the switch shows at a glance what each kind does on entry and
// on exit; split up, that state would travel through every piece.
std::vector<TDocRun> MarkdownToRuns(std::string_view AMarkdown) {
    std::unique_ptr<cmark_node, void (*)(cmark_node*)> Doc(
        cmark_parse_document(AMarkdown.data(), AMarkdown.size(), CMARK_OPT_DEFAULT), cmark_node_free);
    if (!Doc) throw std::bad_alloc();
    std::unique_ptr<cmark_iter, void (*)(cmark_iter*)> It(cmark_iter_new(Doc.get()), cmark_iter_free);
    TRunBuilder B;
    std::vector<TListState> Lists;
    std::vector<std::string> Links;
    int Strong = 0, Emph = 0, Quotes = 0;
    auto Literal = [](cmark_node* N) {
        const char* L = cmark_node_get_literal(N);
        return std::string(L ? L : "");
    };
    // Space before a block: an empty line, a single line end between the
    // blocks of a tight list item.
    auto BlockBreak = [&](cmark_node* N) {
        cmark_node* Parent = cmark_node_parent(N);
        const bool InTightItem =
            Parent && cmark_node_get_type(Parent) == CMARK_NODE_ITEM && !Lists.empty() && Lists.back().Tight;
        B.Break(InTightItem ? 1 : 2);
    };
    for (cmark_event_type Ev; (Ev = cmark_iter_next(It.get())) != CMARK_EVENT_DONE;) {
        cmark_node* N = cmark_iter_get_node(It.get());
        const bool Enter = Ev == CMARK_EVENT_ENTER;
        switch (cmark_node_get_type(N)) {
            case CMARK_NODE_HEADING:
                if (Enter) BlockBreak(N);
                B.Look.Heading = Enter ? uint8_t(cmark_node_get_heading_level(N)) : 0;
                break;
            case CMARK_NODE_PARAGRAPH: {
                if (!Enter) break;
                // The first paragraph of a list item follows its marker.
                const bool FirstInItem = cmark_node_previous(N) == nullptr && cmark_node_parent(N) &&
                                         cmark_node_get_type(cmark_node_parent(N)) == CMARK_NODE_ITEM;
                if (const std::optional<std::string> Table =
                        PipeTable(SourceLines(AMarkdown, cmark_node_get_start_line(N), cmark_node_get_end_line(N)))) {
                    // The table's lines stand below the marker; its cells are
                    // text already, so the paragraph's inlines are passed by.
                    if (FirstInItem)
                        B.Add("\n");
                    else
                        BlockBreak(N);
                    B.Look.CodeBlock = true;
                    B.Add(*Table);
                    B.Look.CodeBlock = false;
                    cmark_iter_reset(It.get(), N, CMARK_EVENT_EXIT);
                    break;
                }
                if (!FirstInItem) BlockBreak(N);
                break;
            }
            case CMARK_NODE_BLOCK_QUOTE:
                if (Enter) BlockBreak(N);
                Quotes += Enter ? 1 : -1;
                B.Look.Quote = Quotes > 0;
                B.Look.Indent = uint8_t(B.Look.Indent + (Enter ? 1 : -1));
                break;
            case CMARK_NODE_LIST:
                if (Enter) {
                    if (Lists.empty() || cmark_node_previous(N)) BlockBreak(N);
                    Lists.push_back({cmark_node_get_list_type(N) == CMARK_ORDERED_LIST,
                                     cmark_node_get_list_tight(N) != 0, cmark_node_get_list_start(N)});
                    B.Look.Indent++;
                } else {
                    Lists.pop_back();
                    B.Look.Indent--;
                }
                break;
            case CMARK_NODE_ITEM:
                if (Enter && !Lists.empty()) {
                    B.Break(Lists.back().Tight ? 1 : 2);
                    B.Add(Lists.back().Ordered ? std::to_string(Lists.back().Next++) + ". " : "• ");
                }
                break;
            case CMARK_NODE_CODE_BLOCK: {
                BlockBreak(N);
                std::string Text = Literal(N);
                while (!Text.empty() && Text.back() == '\n') Text.pop_back();
                B.Look.CodeBlock = true;
                B.Add(Text);
                B.Look.CodeBlock = false;
                break;
            }
            case CMARK_NODE_THEMATIC_BREAK:
                BlockBreak(N);
                B.Add("\u2014\u2014\u2014");
                break;
            case CMARK_NODE_TEXT:
                B.Add(Literal(N));
                break;
            case CMARK_NODE_CODE: {
                B.Look.Code = true;
                B.Add(Literal(N));
                B.Look.Code = false;
                break;
            }
            case CMARK_NODE_SOFTBREAK:
                B.Add(" ");
                break;
            case CMARK_NODE_LINEBREAK:
                B.Add("\n");
                break;
            case CMARK_NODE_STRONG:
                Strong += Enter ? 1 : -1;
                B.Look.Strong = Strong > 0;
                break;
            case CMARK_NODE_EMPH:
                Emph += Enter ? 1 : -1;
                B.Look.Emph = Emph > 0;
                break;
            case CMARK_NODE_LINK:
                if (Enter) {
                    const char* Url = cmark_node_get_url(N);
                    Links.emplace_back(Url ? Url : "");
                } else {
                    Links.pop_back();
                }
                B.Look.Link = Links.empty() ? std::string() : Links.back();
                break;
            default:
                break;  // raw HTML is left out; images show their description
        }
    }
    B.Break(1);
    return B.Runs;
}

// ---- renderer -------------------------------------------------------------------

TMarkdownRenderer::TMarkdownRenderer() {
    const std::string Dir = Utf8FromPath(fs::temp_directory_path() / ("{" + CreateGUIDString() + "}"));
    if (!CreatePrivateFolder(Dir))
        throw std::runtime_error("Не удалось создать временную папку " + Dir + ": " +
                                 SystemErrorText(LastSystemError()));
    FTempDirectory = Dir;
}

TMarkdownRenderer::~TMarkdownRenderer() {
    std::error_code Ec;
    fs::remove_all(PathFromUtf8(FTempDirectory), Ec);
}

std::string TMarkdownRenderer::Prepare(std::string_view APackage) {
    WriteBytes(FTempDirectory + "/md.zip", APackage);
    std::string MdName, CssName;
    for (const std::string& Name : Unpack(APackage, FTempDirectory)) {
        const std::string Ext = LowerExtension(Name);
        if (Ext == ".md" && MdName.empty()) MdName = Name;
        if (Ext == ".css" && CssName.empty()) CssName = Name;
    }
    if (MdName.empty()) throw std::runtime_error("Mardown file not found");
    std::string Markdown = DecodeByBom(ReadBytes(FTempDirectory + "/" + MdName));
    WriteBytes(HtmlPath(), HtmlFileText(MarkdownToHtml(Markdown), CssName));
    return Markdown;
}

void TMarkdownRenderer::ConvertToHtml(const std::string& ASource, const std::string& ADestination,
                                      const std::string& ACss) {
    std::error_code Ec;
    if (!fs::is_regular_file(PathFromUtf8(ASource), Ec)) throw std::runtime_error("File not found: " + ASource);
    if (!ACss.empty() && !fs::is_regular_file(PathFromUtf8(ACss), Ec))
        throw std::runtime_error("File not found: " + ACss);
    WriteBytes(ADestination, HtmlFileText(MarkdownToHtml(DecodeByBom(ReadBytes(ASource))), ACss));
}

}  // namespace fr::win
