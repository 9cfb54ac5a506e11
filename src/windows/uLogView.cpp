#include "windows/uLogView.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "base/uSystem.h"

namespace fr::win {

namespace fs = std::filesystem;

std::vector<std::string> ListLogFiles(const std::string& ADirectory) {
    std::vector<std::string> Names;
    std::error_code Ec;
    for (fs::directory_iterator It(PathFromUtf8(ADirectory), Ec), End; !Ec && It != End; It.increment(Ec)) {
        std::error_code TypeEc;
        if (!It->is_regular_file(TypeEc)) continue;
        const fs::path& P = It->path();
        if (LowerCase(Utf8FromPath(P.extension())) == ".log") Names.push_back(Utf8FromPath(P.filename()));
    }
    std::sort(Names.begin(), Names.end());
    return Names;
}

int NewestLogFile(const std::string& ADirectory, const std::vector<std::string>& AFiles) {
    int Best = -1;
    int64_t BestTime = 0;
    for (size_t I = 0; I < AFiles.size(); ++I) {
        const TFileStamp S = StampOfFile(Utf8FromPath(PathFromUtf8(ADirectory) / PathFromUtf8(AFiles[I])));
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
    const fs::path P = PathFromUtf8(APath);
    std::error_code Ec;
    if (!fs::is_regular_file(P, Ec)) return {};
    const fs::file_time_type Written = fs::last_write_time(P, Ec);
    if (Ec) return {};
    const uintmax_t Size = fs::file_size(P, Ec);
    if (Ec) return {};
    return {true, int64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(Written.time_since_epoch()).count()),
            int64_t(Size)};
}

bool FileChanged(const TFileStamp& AShown, const TFileStamp& ANow) {
    return ANow.Exists && (ANow.WriteTimeNs > AShown.WriteTimeNs || ANow.Size != AShown.Size);
}

int ScaleFrom120(int APixels, double ADpi) {
    if (!(ADpi > 0)) ADpi = 96;
    return int(std::lround(APixels * ADpi / 120.0));
}

}  // namespace fr::win
