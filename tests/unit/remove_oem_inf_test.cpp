#include <string>
#include <vector>

#include "run/removal.h"
#include "run/texts.h"
#include "test_support.h"

namespace {

using Sim::Op;

const std::string Signature = Cp932(";   QLN-8140K Win2000/XP対策用INF(override)");
const std::string Denied = "Access is denied.\r\n";
const Win::DWORD ReadOnly = Win::FILE_ATTRIBUTE_READONLY;
const Win::DWORD Archive = Win::FILE_ATTRIBUTE_ARCHIVE;

std::string Inf(int n, const std::string& windows = "C:\\WINDOWS") {
    return windows + "\\inf\\oem" + std::to_string(n) + ".inf";
}
std::string Pnf(int n) { return "C:\\WINDOWS\\inf\\oem" + std::to_string(n) + ".pnf"; }

std::string SignedInf() {
    return "; Copyright\r\n" + Signature + "\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n";
}

// Another driver's INF and its PNF, which must survive.
void AddUnsigned(int n) {
    Sim::AddFile(Inf(n), "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    Sim::AddFile(Pnf(n), "PNF");
}

void AddSigned(int n, Win::DWORD infAttributes = Archive, Win::DWORD pnfAttributes = Archive) {
    Sim::AddFile(Inf(n), SignedInf(), infAttributes);
    Sim::AddFile(Pnf(n), "PNF", pnfAttributes);
}

class RemoveOemInfTest : public MachineTest {
protected:
    void TearDown() override {
        EXPECT_FALSE(DeviceInfoRemoved);
        MachineTest::TearDown();
    }
};

// ---- search ----

TEST_F(RemoveOemInfTest, FindsTheSignedInfAmongOthersAndDeletesItReadOnlyOrNotWithItsPnf) {
    AddUnsigned(0);
    AddUnsigned(1);
    AddSigned(3, ReadOnly);
    AddUnsigned(4);
    EXPECT_EQ(0, RemoveOemInfBySignature(InfSignatureLine));
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ((std::vector<std::string>{Inf(0), Pnf(0), Inf(1), Pnf(1), Inf(4), Pnf(4)}),
              Sim::Files());
    EXPECT_EQ((std::vector<std::string>{Inf(0), Inf(1), Inf(2), Inf(3)}), Sim::CallsOf("fopen"));
    std::vector<std::string> calls = Sim::Calls();
    // Closed before anything is deleted.
    EXPECT_EQ((std::vector<std::string>{"fclose C:\\WINDOWS\\INF\\OEM3.INF",
                                        "FindFirstFileA " + Inf(3), "SetFileAttributesA " + Inf(3),
                                        "DeleteFileA " + Inf(3), "FindClose",
                                        "DeleteFileA " + Pnf(3)}),
              std::vector<std::string>(calls.end() - 6, calls.end()));
}

TEST_F(RemoveOemInfTest, SignatureMatchesOnAnyLineAndWithTrailingTextOnly) {
    Sim::AddFile(Inf(0), "x\r\n" + Cp932(";   qln-8140k Win2000/XP対策用INF(override)") + "\r\n");
    Sim::AddFile(Inf(1), " " + Signature + "\r\n");
    Sim::AddFile(Inf(2), "x" + Signature + "\r\n");
    Sim::AddFile(Inf(3), Signature.substr(0, Signature.size() - 1) + "\r\n");
    Sim::AddFile(Inf(4), "[Version]\n\n;\n" + Signature + " and more text");  // last line, no LF
    EXPECT_EQ(0, RemoveOemInfBySignature(InfSignatureLine));
    for (int n : {0, 1, 2, 3}) EXPECT_TRUE(Sim::FileExists(Inf(n))) << n;
    EXPECT_FALSE(Sim::FileExists(Inf(4)));
}

TEST_F(RemoveOemInfTest, LongLinesAreTestedIn79BytePieces) {
    Sim::AddFile(Inf(0), std::string(80, 'x') + Signature + "\r\n");
    Sim::AddFile(Inf(1), std::string(78, 'x') + Signature + "\r\n");
    Sim::AddFile(Inf(2), std::string(158, 'x') + Signature + "\r\n");
    Sim::AddFile(Inf(3), std::string(79, 'x') + Signature + "\r\n");
    RemoveOemInfBySignature(InfSignatureLine);
    EXPECT_TRUE(Sim::FileExists(Inf(0)));
    EXPECT_TRUE(Sim::FileExists(Inf(1)));
    EXPECT_FALSE(Sim::FileExists(Inf(2)));
    EXPECT_TRUE(Sim::FileExists(Inf(3)));  // oem2 already won
}

TEST_F(RemoveOemInfTest, LowestNumberWinsAndHigherOnesAreNotOpened) {
    AddSigned(5);
    AddSigned(9);
    RemoveOemInfBySignature(InfSignatureLine);
    EXPECT_FALSE(Sim::FileExists(Inf(5)));
    EXPECT_TRUE(Sim::FileExists(Inf(9)));
    EXPECT_TRUE(Sim::FileExists(Pnf(9)));
    EXPECT_EQ(Inf(5), Sim::CallsOf("fopen").back());
}

TEST_F(RemoveOemInfTest, Oem255AndAboveAreNeverOpenedAndNoMatchIsSilent) {
    AddSigned(255);
    AddSigned(256);
    EXPECT_EQ(1, RemoveOemInfBySignature(InfSignatureLine));
    std::vector<std::string> opened = Sim::CallsOf("fopen");
    ASSERT_EQ(255u, opened.size());
    EXPECT_EQ(Inf(0), opened.front());
    EXPECT_EQ(Inf(254), opened.back());
    EXPECT_EQ(4u, Sim::Files().size());
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(RemoveOemInfTest, GapsAndUnreadableCandidatesDoNotEndTheSearch) {
    AddSigned(0);
    AddSigned(1);
    Sim::Fail(Op::FOpen, 5, Inf(0));
    Sim::Fail(Op::FGets, 5, Inf(1));
    AddSigned(200);
    EXPECT_EQ(0, RemoveOemInfBySignature(InfSignatureLine));
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_TRUE(Sim::FileExists(Inf(0)));
    EXPECT_TRUE(Sim::FileExists(Inf(1)));
    EXPECT_FALSE(Sim::FileExists(Inf(200)));
    EXPECT_FALSE(Sim::FileExists(Pnf(200)));
}

TEST_F(RemoveOemInfTest, WindowsDirectoryUnreadableOrTooLongIsReportedAndNothingOpened) {
    Sim::Fail(Op::GetWindowsDirectory, 5, "", 1);
    EXPECT_EQ(1, RemoveOemInfBySignature(InfSignatureLine));
    // 241 bytes: oem254's path would need 257 bytes; 300 bytes do not fit MAX_PATH at all.
    for (std::size_t length : {241u, 300u}) {
        Sim::SetWindowsDirectory("C:\\" + std::string(length - 3, 'W'));
        EXPECT_EQ(1, RemoveOemInfBySignature(InfSignatureLine));
    }
    const std::string tooSmall = "The data area passed to a system call is too small.\r\n";
    EXPECT_EQ((std::vector<std::string>{FailureText("GetWindowsDirectory()", 5, Denied),
                                        FailureText("GetWindowsDirectory()", 122, tooSmall),
                                        FailureText("GetWindowsDirectory()", 122, tooSmall)}),
              BoxTexts());
    EXPECT_TRUE(Sim::CallsOf("fopen").empty());

    // 240 bytes: the longest path just fits.
    const std::string windows = "C:\\" + std::string(237, 'W');
    Sim::SetWindowsDirectory(windows);
    Sim::AddFile(Inf(254, windows), SignedInf());
    Sim::AddFile(windows + "\\inf\\oem254.pnf", "PNF");
    EXPECT_EQ(0, RemoveOemInfBySignature(InfSignatureLine));

    Sim::SetWindowsDirectory("C:\\");
    Sim::AddFile("C:\\inf\\oem0.inf", SignedInf());
    Sim::AddFile("C:\\inf\\oem0.pnf", "PNF");
    EXPECT_EQ(0, RemoveOemInfBySignature(InfSignatureLine));
    EXPECT_TRUE(Sim::Files().empty());
    EXPECT_EQ(3u, BoxTexts().size());  // only the three above
}

// ---- deletion ----

TEST_F(RemoveOemInfTest, ReadOnlyOrMissingPnfIsReportedAndLeftAsItIs) {
    AddSigned(2, Archive, ReadOnly);
    RemoveOemInfBySignature(InfSignatureLine);
    Sim::AddFile(Inf(7), SignedInf());
    RemoveOemInfBySignature(InfSignatureLine);
    const std::string notFound = "The system cannot find the file specified.\r\n";
    EXPECT_EQ((std::vector<std::string>{FailureText("DeleteFile(pnf)", 5, Denied),
                                        FailureText("DeleteFile(pnf)", 2, notFound)}),
              BoxTexts());
    EXPECT_FALSE(Sim::FileExists(Inf(2)));
    EXPECT_FALSE(Sim::FileExists(Inf(7)));
    EXPECT_EQ(ReadOnly, Sim::FileAttributes(Pnf(2)));
    EXPECT_TRUE(Sim::CallsOf("SetFileAttributesA").empty());
}

TEST_F(RemoveOemInfTest, FailingLookupSkipsTheAttributesButNotTheDeletions) {
    AddSigned(1);
    Sim::Fail(Op::FindFirstFile, 5, Inf(1));
    EXPECT_EQ(0, RemoveOemInfBySignature(InfSignatureLine));
    EXPECT_EQ((std::vector<std::string>{FailureText("FindFirstFile()", 5, Denied)}), BoxTexts());
    EXPECT_TRUE(Sim::Files().empty());
    EXPECT_TRUE(Sim::CallsOf("FindClose").empty());
}

TEST_F(RemoveOemInfTest, FailingAttributeChangeStillTriesBothDeletions) {
    AddSigned(1, ReadOnly);
    Sim::Fail(Op::SetFileAttributes, 32, Inf(1));
    RemoveOemInfBySignature(InfSignatureLine);
    // Code 32 has no system text here: the short form.
    EXPECT_EQ((std::vector<std::string>{"SetFileAttributes() FAILURE: (0x00000020)\n",
                                        FailureText("DeleteFile(inf)", 5, Denied)}),
              BoxTexts());
    EXPECT_TRUE(Sim::FileExists(Inf(1)));
    EXPECT_FALSE(Sim::FileExists(Pnf(1)));
}

TEST_F(RemoveOemInfTest, FailingInfDeletionStillClosesTheSearchAndDeletesThePnf) {
    AddSigned(1, ReadOnly | 0x2 /* hidden */);
    Sim::Fail(Op::DeleteFile, 32, Inf(1));
    Sim::SetMessageText(32, "The process cannot access the file.\r\n");
    RemoveOemInfBySignature(InfSignatureLine);
    EXPECT_EQ((std::vector<std::string>{FailureText("DeleteFile(inf)", 32,
                                                    "The process cannot access the file.\r\n")}),
              BoxTexts());
    EXPECT_EQ(Archive, Sim::FileAttributes(Inf(1)));
    EXPECT_EQ(1u, Sim::CallsOf("FindClose").size());
    EXPECT_FALSE(Sim::FileExists(Pnf(1)));
}

}  // namespace
