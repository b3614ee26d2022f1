#include <string>

#include "run/removal.h"
#include "test_support.h"

namespace {

class ReportFailureTest : public MachineTest {};

// The longest start of a code page 932 text that fits `limit` bytes and ends on a whole
// character.
std::string CutOnCharacterBoundary(const std::string& text, std::size_t limit) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t next = i + (IsCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1);
        if (next > limit) break;
        i = next;
    }
    return text.substr(0, i);
}

TEST_F(ReportFailureTest, ShowsLabelCodeAndSystemTextInAPlainOkBox) {
    Win::SetLastError(5);
    EXPECT_EQ(0, ReportFailure("DeleteFile(inf)"));

    ASSERT_EQ(1u, Sim::Boxes().size());
    const Sim::MessageBoxRecord& box = Sim::Boxes()[0];
    // The system text keeps its CR LF and the format adds its own line feed.
    EXPECT_EQ("DeleteFile(inf) FAILURE: (0x00000005)Access is denied.\r\n\n", box.text);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ("Kalvor", box.caption);
    EXPECT_EQ(0u, box.type);
    EXPECT_EQ(1, FailuresReported);
}

TEST_F(ReportFailureTest, CodeIsEightLowerCaseHexDigits) {
    Sim::SetMessageText(0xDEADBEEF, "x\r\n");
    Win::SetLastError(0xDEADBEEF);
    ReportFailure("RegDeleteKey()");
    Win::SetLastError(0);
    ReportFailure("GetClassDevs()");

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "RegDeleteKey() FAILURE: (0xdeadbeef)x\r\n\n",
                              "GetClassDevs() FAILURE: (0x00000000)The operation completed successfully.\r\n\n",
                          }));
}

TEST_F(ReportFailureTest, TextWithAnInsertIsShownAsItStands) {
    // What a damaged setupapi.dll beside the program makes loading it give.
    Sim::SetMessageText(193, "%1 is not a valid Win32 application.\r\n");
    Win::SetLastError(193);
    ReportFailure("GetClassDevs()");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"GetClassDevs() FAILURE: (0x000000c1)%1 is not "
                                                   "a valid Win32 application.\r\n\n"});
}

TEST_F(ReportFailureTest, ShortFormWhenTheSystemHasNoText) {
    Win::SetLastError(0x12345);
    ReportFailure("EnumDeviceInfo()");
    Sim::Fail(Sim::Op::FormatMessage, 8);
    Win::SetLastError(2);
    ReportFailure("DeleteFile(pnf)");

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "EnumDeviceInfo() FAILURE: (0x00012345)\n",
                              "DeleteFile(pnf) FAILURE: (0x00000002)\n",
                          }));
}

TEST_F(ReportFailureTest, LastErrorIsTheReportedCodeAfterwards) {
    // FormatMessageA sets its own last-error value when it has no text.
    Win::SetLastError(0x4242);
    ReportFailure("GetDeviceRegistryProperty()");
    EXPECT_EQ(0x4242u, Win::GetLastError());

    Win::SetLastError(5);
    Sim::Fail(Sim::Op::MessageBox, 1400);
    ReportFailure("SetFileAttributes()");
    EXPECT_EQ(5u, Win::GetLastError());
}

TEST_F(ReportFailureTest, OverlongTextIsCutWithinTheBufferAndOnACharacterBoundary) {
    // A text of one character over and over, for each byte class at its edges: a lead byte
    // doubled (its second byte then lies in the lead-byte range too), or a single byte. A
    // label of either parity puts the cut on either byte of a character. Raw bytes, as an
    // encoder maps some of these.
    for (unsigned char byte : Cp932EdgeBytes) {
        const std::string character(IsCp932LeadByte(byte) ? 2 : 1, static_cast<char>(byte));
        std::string systemText;
        while (systemText.size() < 400) systemText += character;
        systemText += "\r\n";
        Sim::SetMessageText(13, systemText);

        for (const std::string label : {"L", "LL"}) {
            SCOPED_TRACE(testing::Message() << label << " " << std::hex << static_cast<int>(byte));
            Win::SetLastError(13);
            ReportFailure(label.c_str());
            EXPECT_EQ(CutOnCharacterBoundary(FailureText(label, 13, systemText), 255),
                      Sim::Boxes().back().text);
        }
    }
}

TEST_F(ReportFailureTest, TextThatJustFitsIsNotCut) {
    // 255 bytes with the terminating NUL making 256.
    const std::string label = "DeleteFile(inf)";
    const std::size_t frame = FailureText(label, 2, "").size();
    std::string systemText(255 - frame, 'a');
    Sim::SetMessageText(2, systemText);
    Win::SetLastError(2);
    ReportFailure(label.c_str());
    EXPECT_EQ(FailureText(label, 2, systemText), Sim::Boxes().back().text);
}

}  // namespace
