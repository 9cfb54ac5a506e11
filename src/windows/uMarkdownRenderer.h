// The help package: a ZIP archive with a Markdown text and an optional style
// sheet. It is unpacked into a private temporary folder, converted to an
// HTML file there, and turned into formatted runs that a text view shows
// without a web engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fr::win {

// One stretch of text with one look. Blocks end with "\n"; an empty line
// separates blocks.
struct TDocRun {
    std::string Text;
    uint8_t Heading = 0;     // 1 to 6 inside a heading
    bool Strong = false;     // bold
    bool Emph = false;       // italic
    bool Code = false;       // inline code
    bool CodeBlock = false;  // a code block line
    bool Quote = false;      // inside a block quote
    uint8_t Indent = 0;      // nesting of lists and block quotes
    std::string Link;        // target of a link, empty outside links

    bool operator==(const TDocRun&) const = default;
};

// Text of a Markdown file read as bytes: decoded by its byte-order mark
// (UTF-8, UTF-16 LE or BE), UTF-8 without one; invalid sequences become
// U+FFFD.
std::string DecodeByBom(std::string_view ABytes);

// CommonMark to HTML. Raw HTML in the text is left out.
std::string MarkdownToHtml(std::string_view AMarkdown);

// The content of the HTML file: a UTF-8 byte-order mark, then with a style
// sheet the page around AHtml (CR LF line ends) linking ACssName, without
// one AHtml alone.
std::string HtmlFileText(std::string_view AHtml, const std::string& ACssName);

// The runs of a CommonMark text, adjacent runs of one look merged.
std::vector<TDocRun> MarkdownToRuns(std::string_view AMarkdown);

class TMarkdownRenderer {
public:
    // Creates the private working folder: the temporary folder plus a new
    // GUID in braces, readable by this account only.
    TMarkdownRenderer();
    // Deletes the working folder with everything in it; never throws.
    ~TMarkdownRenderer();
    TMarkdownRenderer(const TMarkdownRenderer&) = delete;
    TMarkdownRenderer& operator=(const TMarkdownRenderer&) = delete;

    const std::string& TempDirectory() const { return FTempDirectory; }

    // Saves APackage as "md.zip" in the working folder, unpacks it there,
    // converts the first top-level ".md" file and writes "md.html" beside it.
    // Returns the Markdown text. Raises "Mardown file not found" when the
    // package holds no Markdown file.
    std::string Prepare(std::string_view APackage);
    std::string HtmlPath() const { return FTempDirectory + "/md.html"; }

    // Converts the Markdown file ASource into the HTML file ADestination,
    // linking the style sheet ACss when it is given. A missing source, or a
    // given but missing style sheet, raises "File not found: " + path.
    static void ConvertToHtml(const std::string& ASource, const std::string& ADestination, const std::string& ACss);

private:
    std::string FTempDirectory;
};

}  // namespace fr::win
