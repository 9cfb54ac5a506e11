// The help: the HTML file written from the package, the package's unpacking,
// and the formatted runs the viewer shows.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "windows/uMarkdownRenderer.h"

using namespace fr::win;
namespace fs = std::filesystem;

namespace {

// The runs as one line: each run as [looks]text, runs separated by "|".
std::string Describe(const std::vector<TDocRun>& ARuns) {
    std::string R;
    for (const TDocRun& Run : ARuns) {
        std::string Looks;
        auto Add = [&](const std::string& L) { Looks += (Looks.empty() ? "" : ",") + L; };
        if (Run.Heading) Add("h" + std::to_string(Run.Heading));
        if (Run.Strong) Add("b");
        if (Run.Emph) Add("i");
        if (Run.Code) Add("code");
        if (Run.CodeBlock) Add("pre");
        if (Run.Quote) Add("quote");
        if (Run.Indent) Add("in" + std::to_string(Run.Indent));
        if (!Run.Link.empty()) Add("a=" + Run.Link);
        std::string Text;
        for (char C : Run.Text) Text += C == '\n' ? std::string("\\n") : std::string(1, C);
        R += (R.empty() ? "" : "|") + (Looks.empty() ? "" : "[" + Looks + "]") + Text;
    }
    return R;
}

std::string ReadFile(const fs::path& P) {
    std::ifstream F(P, std::ios::binary);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

// A ZIP archive holding the named files in this order.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& AFiles) {
    const fs::path Path = fs::temp_directory_path() / ("fr_zip_fixture_" + std::to_string(getpid()) + ".zip");
    int Err = 0;
    zip_t* Z = zip_open(Path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &Err);
    EXPECT_NE(Z, nullptr);
    for (const auto& [Name, Data] : AFiles) {
        if (Name.back() == '/') {
            zip_dir_add(Z, Name.c_str(), ZIP_FL_ENC_UTF_8);
            continue;
        }
        // libzip frees the copy with the source.
        void* Copy = std::malloc(Data.size() + 1);
        std::memcpy(Copy, Data.data(), Data.size());
        zip_source_t* S = zip_source_buffer(Z, Copy, Data.size(), 1);
        EXPECT_GE(zip_file_add(Z, Name.c_str(), S, ZIP_FL_ENC_UTF_8), 0) << Name;
    }
    EXPECT_EQ(zip_close(Z), 0);
    std::string Bytes = ReadFile(Path);
    fs::remove(Path);
    return Bytes;
}

const char kBom[] = "\xEF\xBB\xBF";

}  // namespace

TEST(HelpRuns, FormattedRunsOfTheDocumentTree) {
    struct TCase {
        const char* Markdown;
        const char* Runs;
    };
    const TCase Cases[] = {
        {"# Заголовок\n\nТекст.", "[h1]Заголовок|\\n\\nТекст.\\n"},
        {"## Два\n### Три", "[h2]Два|\\n\\n|[h3]Три|\\n"},
        {"Обычный *курсив* **жирный** `код`", "Обычный |[i]курсив| |[b]жирный| |[code]код|\\n"},
        {"***оба***", "[b,i]оба|\\n"},
        {"строка\nпродолжение", "строка продолжение\\n"},
        {"строка  \nновая", "строка\\nновая\\n"},
        {"[сайт](https://example.org/) и [**жирная**](mailto:a@b.ru)",
         "[a=https://example.org/]сайт| и |[b,a=mailto:a@b.ru]жирная|\\n"},
        {"- один\n- два", "[in1]• один\\n• два|\\n"},
        {"3. три\n4. четыре", "[in1]3. три\\n4. четыре|\\n"},
        {"- внешний\n  - внутренний\n- второй", "[in1]• внешний\\n|[in2]• внутренний|[in1]\\n• второй|\\n"},
        {"- первый\n\n- второй", "[in1]• первый\\n\\n• второй|\\n"},
        {"Абзац\n\n- пункт\n\nАбзац", "Абзац\\n\\n|[in1]• пункт|\\n\\nАбзац\\n"},
        {"```\nsudo usermod -aG dialout user\n```", "[pre]sudo usermod -aG dialout user|\\n"},
        {"    отступ кода\n", "[pre]отступ кода|\\n"},
        {"> цитата", "[quote,in1]цитата|\\n"},
        {"до\n\n---\n\nпосле", "до\\n\\n———\\n\\nпосле\\n"},
        {"текст <b>html</b> дальше", "текст html дальше\\n"},
        {"![схема](a.png)", "схема\\n"},
        // CommonMark has no tables: a pipe table is set in aligned columns,
        // its cells' markup left out, short rows filled.
        {"| Параметр | Знач |\n|:--|--:|\n| a | `12` |\n| длинное **имя** | 3 |\n| b |",
         "[pre]Параметр     Знач\\n───────────  ────\\na              12\\nдлинное имя     3\\nb|\\n"},
        {"Текст\n\nИмя | Код\n:-: | ---\nб | \\| x", "Текст\\n\\n|[pre]Имя  Код\\n───  ───\\n б   | x|\\n"},
        {"- пункт\n\n  | a | b |\n  |---|---|\n  | 1 | 2 |", "[in1]• пункт\\n\\n|[pre,in1]a  b\\n─  ─\\n1  2|\\n"},
        {"a | b\nне таблица", "a | b не таблица\\n"},
        {"| a |\n|---|---|", "| a | |---|---|\\n"},
        {"", ""},
    };
    for (const TCase& C : Cases) EXPECT_EQ(Describe(MarkdownToRuns(C.Markdown)), C.Runs) << C.Markdown;
}

TEST(HelpHtml, FileTextWithAndWithoutStyleSheet) {
    const std::string Html = MarkdownToHtml("# Справка\n\nТекст *важно*.\n");
    EXPECT_EQ(Html, "<h1>Справка</h1>\n<p>Текст <em>важно</em>.</p>\n");
    EXPECT_EQ(HtmlFileText(Html, "help.css"),
              std::string(kBom) +
                  "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<link href=\"help.css\" rel=\"stylesheet\">\r\n"
                  "</head>\r\n<body>\r\n<h1>Справка</h1>\n<p>Текст <em>важно</em>.</p>\n\r\n</body>\r\n</html>\r\n");
    EXPECT_EQ(HtmlFileText(Html, ""), std::string(kBom) + Html);
    EXPECT_NE(HtmlFileText("", "a\"b.css").find("<link href=\"a&quot;b.css\" rel=\"stylesheet\">"), std::string::npos);
    // Raw HTML in the text is not passed on.
    EXPECT_EQ(MarkdownToHtml("<script>x</script>\n"), "<!-- raw HTML omitted -->\n");
}

TEST(HelpHtml, TextDecodedByByteOrderMark) {
    struct TCase {
        const char* Name;
        std::string Bytes;
        std::string Text;
    };
    const TCase Cases[] = {
        {"utf8 with mark", "\xEF\xBB\xBF# \xD0\xAF", "# Я"},
        {"utf8 without mark", "# \xD0\xAF", "# Я"},
        {"utf16 le", std::string("\xFF\xFE#\0 \0\x2F\x04", 8), "# Я"},
        {"utf16 be", std::string("\xFE\xFF\0#\0 \x04\x2F", 8), "# Я"},
        {"invalid utf8", "a\xC0", "a\xEF\xBF\xBD"},
    };
    for (const TCase& C : Cases) EXPECT_EQ(DecodeByBom(C.Bytes), C.Text) << C.Name;
}

TEST(HelpPackage, UnpacksConvertsAndCleansUp) {
    std::string Dir;
    {
        TMarkdownRenderer R;
        Dir = R.TempDirectory();
        const std::string Name = fs::path(Dir).filename().string();
        EXPECT_EQ(Name.size(), 38u);
        EXPECT_EQ(Name.front(), '{');
        EXPECT_EQ(Name.back(), '}');
        EXPECT_EQ(fs::status(Dir).permissions() & fs::perms::all, fs::perms::owner_all);

        const std::string Md = R.Prepare(MakeZip({{"images/", ""},
                                                  {"images/a.txt", "nested"},
                                                  {"first.css", "body{}"},
                                                  {"help.md", "\xEF\xBB\xBF# Помощь\n"},
                                                  {"second.md", "# Другой\n"},
                                                  {"second.css", "p{}"}}));
        EXPECT_EQ(Md, "# Помощь\n");
        EXPECT_EQ(ReadFile(R.HtmlPath()), HtmlFileText("<h1>Помощь</h1>\n", "first.css"));
        EXPECT_EQ(ReadFile(fs::path(Dir) / "images/a.txt"), "nested");
        EXPECT_TRUE(fs::exists(fs::path(Dir) / "md.zip"));
    }
    EXPECT_FALSE(fs::exists(Dir));
}

TEST(HelpPackage, WithoutStyleSheetTheHtmlStandsAlone) {
    TMarkdownRenderer R;
    R.Prepare(MakeZip({{"doc/help.css", "p{}"}, {"Help.MD", "Текст\n"}}));
    EXPECT_EQ(ReadFile(R.HtmlPath()), std::string(kBom) + "<p>Текст</p>\n");
}

TEST(HelpPackage, Failures) {
    struct TCase {
        const char* Name;
        std::string Package;
        const char* Error;
    };
    const TCase Cases[] = {
        // The end record alone: an empty archive.
        {"empty archive", std::string("PK\x05\x06", 4) + std::string(18, '\0'), "Mardown file not found"},
        {"markdown only in a folder", MakeZip({{"docs/help.md", "# x"}}), "Mardown file not found"},
        {"not an archive", "not a zip at all", "Пакет справки повреждён"},
    };
    for (const TCase& C : Cases) {
        TMarkdownRenderer R;
        try {
            R.Prepare(C.Package);
            ADD_FAILURE() << C.Name << ": no error";
        } catch (const std::exception& E) {
            EXPECT_NE(std::string(E.what()).find(C.Error), std::string::npos) << C.Name << ": " << E.what();
        }
    }
}

// Entries that name places outside the working folder are never written.
TEST(HelpPackage, EntriesLeavingTheFolderAreSkipped) {
    const fs::path Outside = fs::temp_directory_path() / "fr_zip_escape.md";
    fs::remove(Outside);
    TMarkdownRenderer R;
    R.Prepare(MakeZip({{"../fr_zip_escape.md", "# злой"}, {"a/../../fr_zip_escape.md", "# злой"}, {"ok.md", "# да"}}));
    EXPECT_FALSE(fs::exists(Outside));
    EXPECT_EQ(ReadFile(R.HtmlPath()), std::string(kBom) + "<h1>да</h1>\n");
}

TEST(HelpPackage, ConvertToHtmlChecksItsFiles) {
    TMarkdownRenderer Work;  // a private folder for the files of this test
    const std::string Src = Work.TempDirectory() + "/a.md", Css = Work.TempDirectory() + "/a.css",
                      Dst = Work.TempDirectory() + "/a.html";
    std::ofstream(Src) << "*x*\n";
    std::ofstream(Css) << "p{}";
    TMarkdownRenderer::ConvertToHtml(Src, Dst, Css);
    EXPECT_EQ(ReadFile(Dst), HtmlFileText("<p><em>x</em></p>\n", Css));
    TMarkdownRenderer::ConvertToHtml(Src, Dst, "");
    EXPECT_EQ(ReadFile(Dst), std::string(kBom) + "<p><em>x</em></p>\n");
    EXPECT_THROW(
        {
            try {
                TMarkdownRenderer::ConvertToHtml(Src + ".missing", Dst, "");
            } catch (const std::runtime_error& E) {
                EXPECT_EQ(std::string(E.what()), "File not found: " + Src + ".missing");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_THROW(TMarkdownRenderer::ConvertToHtml(Src, Dst, Css + ".missing"), std::runtime_error);
}
