#include "windows/uLogView.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"

namespace fr::win {

namespace fs = std::filesystem;

std::vector<std::string> ListLogFiles(const std::string& ADirectory) {
    std::vector<std::string> Names;
    std::error_code Ec;
    for (fs::directory_iterator It(ADirectory, Ec), End; !Ec && It != End; It.increment(Ec)) {
        std::error_code TypeEc;
        if (!It->is_regular_file(TypeEc)) continue;
        const fs::path& P = It->path();
        if (LowerCase(P.extension().string()) == ".log") Names.push_back(P.filename().string());
    }
    std::sort(Names.begin(), Names.end());
    return Names;
}

int NewestLogFile(const std::string& ADirectory, const std::vector<std::string>& AFiles) {
    int Best = -1;
    int64_t BestTime = 0;
    for (size_t I = 0; I < AFiles.size(); ++I) {
        const TFileStamp S = StampOfFile((fs::path(ADirectory) / AFiles[I]).string());
        // Ties go to the later name, as do files that vanished meanwhile
        // when nothing newer exists.
        if (Best < 0 || S.WriteTimeNs >= BestTime) {
            Best = int(I);
            BestTime = S.WriteTimeNs;
        }
    }
    return Best;
}

std::string DecodeLogText(std::string_view ABytes, TLogEncoding AEncoding) {
    std::string Text;
    switch (AEncoding) {
        case leUtf8:
            Text = Utf32ToUtf8(Utf8ToUtf32(ABytes));
            break;
        case leAnsi:
            Text = AnsiToUtf8(ABytes);
            break;
        case leOem:
            Text = OemToUtf8(ABytes);
            break;
    }
    // A text view ends its text at a zero byte.
    return ReplaceAll(std::move(Text), std::string_view("\0", 1), "\xEF\xBF\xBD");
}

TFileStamp StampOfFile(const std::string& APath) {
    struct stat St {};
    if (::stat(APath.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return {};
    return {true, int64_t(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec, int64_t(St.st_size)};
}

bool FileChanged(const TFileStamp& AShown, const TFileStamp& ANow) {
    return ANow.Exists && (ANow.WriteTimeNs > AShown.WriteTimeNs || ANow.Size != AShown.Size);
}

int ScaleFrom120(int APixels, double ADpi) {
    if (!(ADpi > 0)) ADpi = 96;
    return int(std::lround(APixels * ADpi / 120.0));
}

}  // namespace fr::win
