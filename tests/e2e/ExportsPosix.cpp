// The Linux library exports exactly the four entry points of the host
// interface (the Windows DLLs: tests/win32/check-dll).
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

TEST(Library, ExportsExactlyTheFourEntryPoints) {
    const std::string Cmd = std::string("nm -D --defined-only ") + FR_LIBRARY_PATH;
    FILE* P = popen(Cmd.c_str(), "r");
    ASSERT_NE(P, nullptr);
    std::set<std::string> Names;
    char Line[512];
    while (std::fgets(Line, sizeof Line, P)) {
        char Addr[64], Type[8], Name[400];
        if (std::sscanf(Line, "%63s %7s %399s", Addr, Type, Name) == 3) Names.insert(Name);
    }
    ASSERT_EQ(pclose(P), 0);
    const std::set<std::string> Expected = {"GetAttachType", "GetClassNames", "GetClassObject", "DestroyObject"};
    EXPECT_EQ(Names, Expected);
}

}  // namespace
