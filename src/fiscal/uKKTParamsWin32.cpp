#include <windows.h>

#include <string>

#include "base/uStrings.h"
#include "fiscal/uKKTParams.h"

namespace fr {

namespace {

// A date or time picture of the user's locale ("dd.MM.yyyy", "H:mm:ss") as
// a strftime pattern; text in quotes stays as it is.
std::string StrftimePattern(const std::wstring& APicture) {
    std::string Out;
    for (size_t I = 0; I < APicture.size();) {
        const wchar_t C = APicture[I];
        size_t N = 1;
        while (I + N < APicture.size() && APicture[I + N] == C) ++N;
        if (C == L'\'') {
            const size_t End = APicture.find(L'\'', I + 1);
            const std::wstring Literal =
                APicture.substr(I + 1, (End == std::wstring::npos ? APicture.size() : End) - I - 1);
            Out += Utf16ToUtf8(std::u16string(Literal.begin(), Literal.end()));
            I = End == std::wstring::npos ? APicture.size() : End + 1;
            continue;
        }
        switch (C) {
            case L'd':
                Out += N >= 4 ? "%A" : N == 3 ? "%a" : "%d";
                break;
            case L'M':
                Out += N >= 4 ? "%B" : N == 3 ? "%b" : "%m";
                break;
            case L'y':
                Out += N >= 3 ? "%Y" : "%y";
                break;
            case L'H':
                Out += "%H";
                break;
            case L'h':
                Out += "%I";
                break;
            case L'm':
                Out += "%M";
                break;
            case L's':
                Out += "%S";
                break;
            case L't':
                Out += "%p";
                break;
            case L'%':
                Out += std::string(N * 2, '%');
                break;
            default:
                Out += Utf16ToUtf8(std::u16string(N, char16_t(C)));
                break;
        }
        I += N;
    }
    return Out;
}

std::wstring LocalePicture(LCTYPE AType) {
    wchar_t Buf[128] = {};
    return GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, AType, Buf, int(std::size(Buf))) > 0 ? Buf : L"";
}

}  // namespace

TDateTimeFormat DesktopDateTimeFormat() {
    const std::string Date = StrftimePattern(LocalePicture(LOCALE_SSHORTDATE));
    const std::string Time = StrftimePattern(LocalePicture(LOCALE_STIMEFORMAT));
    if (!Date.empty() && !Time.empty()) return {Date, Time};
    return {"%d.%m.%Y", "%H:%M:%S"};
}

}  // namespace fr
