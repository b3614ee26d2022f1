#include <string>
#include <vector>

#include "run/removal.h"
#include "test_support.h"

namespace {

const std::string OtherDir = "C:\\WINDOWS\\inf\\other\\";
const std::string CopyName = "MAKER Systems,Inc.Card_w9x.inf";
const std::string CopyPath = OtherDir + CopyName;
const std::string Neighbour = OtherDir + "MAKER Systems,Inc.Card_w2k.inf";

const Win::DWORD ReadOnlyArchive = Win::FILE_ATTRIBUTE_READONLY | Win::FILE_ATTRIBUTE_ARCHIVE;

class CopiedInfTest : public MachineTest {};

TEST_F(CopiedInfTest, ReadOnlyCopyIsMadeWritableThenDeletedAfterTheSearchCloses) {
    Sim::AddFile(CopyPath, "[Version]\r\n", ReadOnlyArchive);
    // Same content under another name: the copy is found by its name alone.
    Sim::AddFile(Neighbour, "[Version]\r\n", ReadOnlyArchive);

    EXPECT_EQ(0, RemoveCopiedInf(CopyName.c_str()));

    EXPECT_FALSE(Sim::FileExists(CopyPath));
    EXPECT_TRUE(Sim::FileExists(Neighbour));
    std::vector<std::string> fileCalls;
    for (const std::string& call : Sim::Calls()) {
        if (call != "GetWindowsDirectoryA") fileCalls.push_back(call);
    }
    EXPECT_EQ(fileCalls, (std::vector<std::string>{"FindFirstFileA " + CopyPath,
                                                   "SetFileAttributesA " + CopyPath, "FindClose",
                                                   "DeleteFileA " + CopyPath}));
    EXPECT_TRUE(Sim::Boxes().empty());
}

TEST_F(CopiedInfTest, AbsentCopyAndASecondRunAreSilent) {
    EXPECT_EQ(1, RemoveCopiedInf(CopyName.c_str()));

    Sim::AddFile(CopyPath, "[Version]\r\n", ReadOnlyArchive);
    EXPECT_EQ(0, RemoveCopiedInf(CopyName.c_str()));
    EXPECT_EQ(1, RemoveCopiedInf(CopyName.c_str()));

    EXPECT_EQ(Sim::CallsOf("DeleteFileA"), std::vector<std::string>{CopyPath});
    EXPECT_TRUE(Sim::Boxes().empty());
}

TEST_F(CopiedInfTest, FailedAttributeChangeIsReportedAndTheDeletionStillTried) {
    Sim::AddFile(CopyPath, "[Version]\r\n", ReadOnlyArchive);
    Sim::Fail(Sim::Op::SetFileAttributes, 5, CopyPath);

    EXPECT_EQ(0, RemoveCopiedInf(CopyName.c_str()));

    // Still read-only, so the deletion is refused too.
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              FailureText("SetFileAttributes()", 5, "Access is denied.\r\n"),
                              FailureText("DeleteFile(inf)", 5, "Access is denied.\r\n")}));
    EXPECT_TRUE(Sim::FileExists(CopyPath));
}

TEST_F(CopiedInfTest, FailedDeletionIsReportedAfterTheCopyWasLeftArchiveOnly) {
    Sim::AddFile(CopyPath, "[Version]\r\n", ReadOnlyArchive | 0x02);
    Sim::Fail(Sim::Op::DeleteFile, 32, CopyPath);
    Sim::SetMessageText(32, "The process cannot access the file.\r\n");

    EXPECT_EQ(0, RemoveCopiedInf(CopyName.c_str()));

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(
                              "DeleteFile(inf)", 32, "The process cannot access the file.\r\n")});
    EXPECT_EQ(Win::FILE_ATTRIBUTE_ARCHIVE, Sim::FileAttributes(CopyPath));
}

TEST_F(CopiedInfTest, UnusableWindowsDirectoryIsReportedAndNothingIsTouched) {
    struct Case {
        const char* what;
        std::string directory;
        bool unreadable;
        unsigned code;
        const char* systemText;
    };
    // 215 bytes: with a separator, inf\other\ and the 30-byte name, the path and its NUL
    // would need 257 bytes.
    const std::string longDirectory = "C:\\" + std::string(212, 'W');
    const Case cases[] = {
        {"unreadable", "C:\\WINDOWS", true, 8,
         "Not enough storage is available to process this command.\r\n"},
        {"longer than MAX_PATH", "C:\\" + std::string(300, 'W'), false, 122,
         "The data area passed to a system call is too small.\r\n"},
        {"copy path over 255 bytes", longDirectory, false, 122,
         "The data area passed to a system call is too small.\r\n"},
    };
    for (const Case& c : cases) {
        NewMachine();
        SCOPED_TRACE(c.what);
        Sim::SetWindowsDirectory(c.directory);
        if (c.unreadable) Sim::Fail(Sim::Op::GetWindowsDirectory, 8);
        // What a path cut at 255 bytes would name.
        Sim::AddFile((c.directory + "\\inf\\other\\" + CopyName).substr(0, 255), "x");
        Sim::AddFile(c.directory + "\\inf\\other\\" + CopyName, "x");

        EXPECT_EQ(1, RemoveCopiedInf(CopyName.c_str()));

        EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                                  FailureText("GetWindowsDirectory()", c.code, c.systemText)});
        EXPECT_TRUE(Sim::CallsOf("FindFirstFileA").empty());
        EXPECT_TRUE(Sim::CallsOf("DeleteFileA").empty());
    }
}

TEST_F(CopiedInfTest, RootGetsNoSecondBackslashAndTheLongestDirectoryThatFitsIsUsed) {
    const std::string longest = "C:\\" + std::string(211, 'W');
    const std::pair<std::string, std::string> rows[] = {
        {"C:\\", "C:\\inf\\other\\" + CopyName},
        // 214 bytes: the path's 255 bytes and its NUL just fill the buffer.
        {longest, longest + "\\inf\\other\\" + CopyName},
    };
    for (const auto& [directory, path] : rows) {
        NewMachine();
        Sim::SetWindowsDirectory(directory);
        Sim::AddFile(path, "x");
        EXPECT_EQ(0, RemoveCopiedInf(CopyName.c_str()));
        EXPECT_EQ(Sim::CallsOf("DeleteFileA"), std::vector<std::string>{path});
        EXPECT_TRUE(Sim::Boxes().empty());
    }
}

// The whole 98/ME run, with the adapter's own IDs and copy names as installed.
TEST_F(CopiedInfTest, NinetyEightRunTakesBothEnumEntriesAndBothCopies) {
    const std::string classKey = "System\\CurrentControlSet\\Services\\Class\\Ports\\";
    const std::string first = "ENUM\\PCMCIA\\TOVAK-QLN8140K_RS232C_PC_Card-A7E5";
    const std::string second = "ENUM\\PCMCIA\\TOVAK_System_Inc.-QLN8140K_RS232C_PC_Card-5B1C";
    const std::string copy9x = OtherDir + "TOVAK Systems,Inc.Qln8140k_w9xme.inf";
    const std::string copy2k = OtherDir + "TOVAK Systems,Inc.QLN8140K_w2kxp.inf";
    Sim::SetPlatformId(Win::VER_PLATFORM_WIN32_WINDOWS);
    Sim::SetStringValue(first + "\\0", "Driver", "Ports\\0001");
    Sim::SetStringValue(second + "\\0", "Driver", "Ports\\0002");
    Sim::AddKey(classKey + "0000");
    Sim::AddKey(classKey + "0001");
    Sim::AddKey(classKey + "0002");
    Sim::AddFile(copy9x, "[Version]\r\n", ReadOnlyArchive);
    Sim::AddFile(copy2k, "[Version]\r\n");
    Sim::AddFile(Neighbour, "[Version]\r\n");

    EXPECT_EQ(0, RunRemoval());

    EXPECT_FALSE(Sim::KeyExists(first));
    EXPECT_FALSE(Sim::KeyExists(second));
    EXPECT_FALSE(Sim::KeyExists(classKey + "0001"));
    EXPECT_FALSE(Sim::KeyExists(classKey + "0002"));
    EXPECT_TRUE(Sim::KeyExists(classKey + "0000"));
    // Exact letter case, 98/ME copy first.
    EXPECT_EQ(Sim::CallsOf("DeleteFileA"), (std::vector<std::string>{copy9x, copy2k}));
    EXPECT_EQ(Sim::CallsOf("SetFileAttributesA"), std::vector<std::string>{copy9x});
    EXPECT_EQ(Sim::Files(), std::vector<std::string>{Neighbour});
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Cp932("指定デバイス情報を削除しました。")});
}

}  // namespace
