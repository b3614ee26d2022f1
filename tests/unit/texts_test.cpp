// The program's texts must be the exact code page 932 bytes of their Japanese originals;
// the expected bytes come from iconv, not from the program's own literals.
#include <cstring>

#include "run/texts.h"
#include "test_support.h"

namespace {

TEST(Texts, ConsoleLinesAreTheirCodePage932Bytes) {
    EXPECT_EQ(Cp932("プログラム実行中・・・\n"), StartLineText);
    EXPECT_EQ(Cp932("プログラム終了\n"), EndLineText);
    const std::string rule(66, '=');
    EXPECT_EQ("\n" + rule + "\n", HelpLines[0]);
    EXPECT_EQ(Cp932("本プログラムは、デバイス情報の削除、infファイルの削除を行います。\n"), HelpLines[1]);
    EXPECT_EQ(Cp932("本プログラム実行後、再インストールを行ってください。\n"), HelpLines[2]);
    EXPECT_EQ(rule + "\n", HelpLines[3]);
}

TEST(Texts, ResultBoxTextsAndCaption) {
    EXPECT_EQ(Cp932("指定デバイス情報を削除しました。"), DeviceInfoRemovedText);
    EXPECT_EQ(Cp932("指定デバイス情報が見つかりません。"), DeviceInfoNotFoundText);
    EXPECT_STREQ("Kalvor", BoxCaption);
}

TEST(Texts, TargetsAreExact) {
    EXPECT_STREQ("PCMCIA\\TOVAK-QLN8140K_RS232C_PC_Card-A7E5", FirstHardwareId);
    EXPECT_STREQ("PCMCIA\\TOVAK_System_Inc.-QLN8140K_RS232C_PC_Card-5B1C", SecondHardwareId);
    EXPECT_STREQ("TOVAK Systems,Inc.Qln8140k_w9xme.inf", InfCopyName9xMe);
    EXPECT_STREQ("TOVAK Systems,Inc.QLN8140K_w2kxp.inf", InfCopyName2kXp);

    const std::string signature = Cp932(";   QLN-8140K Win2000/XP対策用INF(override)");
    EXPECT_EQ(43u, signature.size());
    EXPECT_EQ(43u, std::strlen(InfSignatureLine));
    EXPECT_EQ(signature, InfSignatureLine);
}

}  // namespace
