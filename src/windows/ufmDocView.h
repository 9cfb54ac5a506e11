// The document viewer: formatted text from a Markdown document in a
// read-only text view, links opening in the desktop's browser.
#pragma once

#include <string>
#include <vector>

#include "windows/uMarkdownRenderer.h"

namespace fr::win {

// Shows ARuns modally under ACaption ("Документ" when empty).
void ShowDocView(const std::vector<TDocRun>& ARuns, const std::string& ACaption);

}  // namespace fr::win
