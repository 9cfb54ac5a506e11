#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string>

#include "fiscal/uKKTParams.h"

namespace fr {

TDateTimeFormat DesktopDateTimeFormat() {
    const char* Name = nullptr;
    for (const char* Variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* V = std::getenv(Variable);
        if (V && *V) {
            Name = V;
            break;
        }
    }
    const std::string N = Name ? Name : "";
    if (!N.empty() && N != "C" && N != "POSIX" && N.rfind("C.", 0) != 0) {
        if (const locale_t L = newlocale(LC_TIME_MASK, Name, locale_t(nullptr))) {
            const std::string Date = nl_langinfo_l(D_FMT, L);
            const std::string Time = nl_langinfo_l(T_FMT, L);
            freelocale(L);
            if (!Date.empty() && !Time.empty()) return {Date, Time};
        }
    }
    return {"%d.%m.%Y", "%H:%M:%S"};
}

}  // namespace fr
