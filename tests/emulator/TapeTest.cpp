// The virtual tape: text dump and PNG picture.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EmuTestUtil.h"
#include "uEmuDevice.h"
#include "uEmuTape.h"

namespace fr {
namespace {

using namespace emutest;

TEST(EmuTape, EAN13CheckDigits) {
    EXPECT_EQ(EAN13CheckDigit("400638133393"), '1');
    EXPECT_EQ(EAN13CheckDigit("590123412345"), '7');
    EXPECT_EQ(EAN13CheckDigit("000000000000"), '0');
}

TEST(EmuTape, ReceiptOnTheTapeAsTextAndPicture) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}),
                     B({1}) + LEn(1000000, 6) + LEn(12345, 5) + LEn(12345, 5) + LEn(0, 5) + B({1, 1, 4, 1}) +
                         "\xD7\xE0\xE9"),  // "Чай"
                 0),
              0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x0C}), LEn(1021, 2) + LEn(6, 2) + "Ivanov"), 0), 0);
    std::string Thanks = "Thanks";
    Thanks.resize(64, '\0');
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x45}),
                     LEn(20000, 5) + std::string(75, '\0') + B({0}) + std::string(30, '\0') + B({1}) + Thanks +
                         std::string(20, '\0')),
                 0),
              0);
    ASSERT_EQ(At(Cmd(D, B({0xC0}), B({0}) + std::string(40, '\x0F')), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xC1}), B({0, 0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xC2}), LEn(400638133393ull, 5)), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x29}), B({2, 2})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x25}), B({0})), 0), 0);

    TEmuTape T = D.Tape();
    std::string Text = T.ToText(48);
    for (const char* Want : {"ОТЧЕТ ОБ ОТКРЫТИИ СМЕНЫ", "Чай", "1 x 123.45", "=123.45", "СДАЧА", "=76.55",
                             "[EAN-13 4006381333931]", "Thanks\n", "[QR t=", "&s=123.45&", " cut\n", "#", "НДС 20%",
                             "СУММА НДС 20%", "=20.58", "КАССИР", "Ivanov", "&fp="})
        EXPECT_NE(Text.find(Want), std::string::npos) << Want << "\n" << Text;
    EXPECT_LT(Text.find("Чай"), Text.find("ИТОГ")) << "items print before the total";

    auto Dir = std::filesystem::temp_directory_path() / ("emu-tape-" + std::to_string(getpid()));
    std::filesystem::create_directories(Dir);
    auto File = Dir / "tape.png";
    ASSERT_NO_THROW(T.WritePNG(File.string()));
    std::ifstream F(File, std::ios::binary);
    std::string Head(24, '\0');
    F.read(Head.data(), 24);
    EXPECT_EQ(Head.substr(0, 8), "\x89PNG\r\n\x1A\n");
    EXPECT_EQ(Head.substr(12, 4), "IHDR");
    uint32_t W =
        uint32_t(At(Head, 16)) << 24 | uint32_t(At(Head, 17)) << 16 | uint32_t(At(Head, 18)) << 8 | At(Head, 19);
    uint32_t H =
        uint32_t(At(Head, 20)) << 24 | uint32_t(At(Head, 21)) << 16 | uint32_t(At(Head, 22)) << 8 | At(Head, 23);
    EXPECT_EQ(W, 576u);
    EXPECT_GT(H, 400u);
    EXPECT_THROW(T.WritePNG((Dir / "missing" / "x.png").string()), std::runtime_error);
    std::filesystem::remove_all(Dir);
}

}  // namespace
}  // namespace fr
