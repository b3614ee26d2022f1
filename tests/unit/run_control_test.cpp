#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "run/removal.h"
#include "run/texts.h"
#include "test_support.h"

namespace {

std::string HelpText() {
    std::string text;
    for (const char* line : HelpLines) text += line;
    return text;
}

// What a command-line scan did, seen from outside the process it ran in.
struct ScanOutcome {
    bool exited = false;  // through Win::exit, as the help ends the process
    int status = 0;
    std::string console;
    int keysLeft = 0;
    std::vector<std::string> calls;
};

// Runs ParseCommandLine in a child process, since the help ends the process.
ScanOutcome Scan(std::vector<std::string> arguments, int keys = 1,
                 const std::string& program = "8140KUninstall.exe") {
    arguments.insert(arguments.begin(), program);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "pipe";
        return ScanOutcome();
    }
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        for (int i = 0; i < keys; ++i) Sim::QueueKey('x');
        auto send = [&](const std::string& record) {
            std::string framed = std::to_string(record.size()) + ":" + record;
            if (write(pipeEnds[1], framed.data(), framed.size()) < 0) _exit(90);
        };
        auto report = [&](bool exited, int status) {
            send(exited ? "exit" : "return");
            send(std::to_string(status));
            send(Sim::Console());
            send(std::to_string(Sim::KeysQueued()));
            for (const std::string& call : Sim::Calls()) send(call);
        };
        Sim::OnExit([&](int status) { report(true, status); });
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        ParseCommandLine(static_cast<int>(arguments.size()), argv.data());
        report(false, 0);
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string data;
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], chunk, sizeof chunk)) > 0) data.append(chunk, got);
    close(pipeEnds[0]);
    int wstatus = 0;
    waitpid(child, &wstatus, 0);

    std::vector<std::string> records;
    for (std::size_t at = 0; at < data.size();) {
        std::size_t colon = data.find(':', at);
        std::size_t length = std::stoul(data.substr(at, colon - at));
        records.push_back(data.substr(colon + 1, length));
        at = colon + 1 + length;
    }
    ScanOutcome outcome;
    if (records.size() < 4) {
        ADD_FAILURE() << "the scan's process ended without reporting (wait status " << wstatus << ")";
        return outcome;
    }
    outcome.exited = records[0] == "exit";
    outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1000;
    outcome.console = records[2];
    outcome.keysLeft = std::stoi(records[3]);
    outcome.calls.assign(records.begin() + 4, records.end());
    return outcome;
}

class CommandLineTest : public MachineTest {};

TEST_F(CommandLineTest, EachHelpSwitchShowsTheHelpWaitsForAKeyAndExitsMinusOne) {
    for (const char* option : {"/?", "-?", "/h", "/H", "-help", "xH", "/hoge"}) {
        SCOPED_TRACE(option);
        ScanOutcome outcome = Scan({option});
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(255, outcome.status);  // -1 as the parent sees it
        EXPECT_EQ(HelpText(), outcome.console);
        EXPECT_EQ(0, outcome.keysLeft);
        // Four lines, one key, the exit: nothing looked at the machine.
        EXPECT_EQ(outcome.calls, (std::vector<std::string>{"WriteStdout", "WriteStdout", "WriteStdout",
                                                           "WriteStdout", "_getch", "exit"}));
    }
}

TEST_F(CommandLineTest, HelpSwitchAfterOtherArgumentsStillActsAndLaterOnesAreNotExamined) {
    ScanOutcome outcome = Scan({"foo", "/x", "-h", "/?"});
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(255, outcome.status);
    EXPECT_EQ(HelpText(), outcome.console);
}

TEST_F(CommandLineTest, OtherArgumentsHaveNoEffect) {
    // Nor does the program's own name, whatever its second byte: started as
    // "Shared\8140KUninstall.exe" the run still removes.
    for (const char* program : {"8140KUninstall.exe", "Shared\\8140KUninstall.exe", "SH\\8140KUninstall.exe", "/?"}) {
        for (const std::vector<std::string>& arguments :
             std::vector<std::vector<std::string>>{{}, {"?"}, {"/"}, {"/x"}, {"/F"}, {""}, {"/xh"}, {"/x", "/F", "?"}}) {
            ScanOutcome outcome = Scan(arguments, 1, program);
            EXPECT_FALSE(outcome.exited) << program << " and " << arguments.size() << " arguments";
            EXPECT_EQ("", outcome.console);
            EXPECT_EQ(1, outcome.keysLeft);
        }
    }
}

TEST_F(CommandLineTest, EveryArgumentIsExaminedHoweverMany) {
    std::vector<std::string> arguments(300, "/x");
    arguments.push_back("/?");
    ScanOutcome outcome = Scan(arguments);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(HelpText(), outcome.console);
}

TEST_F(CommandLineTest, SecondByteOfADoubleByteCharacterIsFoldedLikeAnyByte) {
    // 0x83 0x68 is "ド"; its second byte is 'h' and becomes 'H', which asks for the help.
    ScanOutcome outcome = Scan({"\x83h"});
    EXPECT_TRUE(outcome.exited);
    // 0x82 0x3F would be "?" after a lead byte: still the second byte, still the help.
    EXPECT_TRUE(Scan({"\x82?"}).exited);
    EXPECT_FALSE(Scan({"\x83\x67"}).exited);
}

class RemovalRunTest : public MachineTest {};

TEST_F(RemovalRunTest, CleanMachineShowsStartLineNotFoundBoxAndEndLine) {
    EXPECT_EQ(0, RunRemoval());

    EXPECT_EQ(std::string(StartLineText) + EndLineText, Sim::Console());
    ASSERT_EQ(1u, Sim::Boxes().size());
    const Sim::MessageBoxRecord& box = Sim::Boxes()[0];
    EXPECT_EQ(DeviceInfoNotFoundText, box.text);
    EXPECT_EQ("Kalvor", box.caption);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ(0u, box.type);
    // The start line is on the console while the box is up; the end line comes after it.
    EXPECT_EQ(StartLineText, box.console);
}

TEST_F(RemovalRunTest, NtFamilyRemovesDevicesUnderBothIdsThenTheSignedInf) {
    Sim::SetPlatformId(Win::VER_PLATFORM_WIN32_NT);
    int second = Sim::AddDeviceWithIds({SecondHardwareId});
    int first = Sim::AddDeviceWithIds({"PCMCIA\\OTHER", FirstHardwareId});
    Sim::AddFile("C:\\WINDOWS\\inf\\oem1.inf", std::string(InfSignatureLine) + "\r\n");
    Sim::AddFile("C:\\WINDOWS\\inf\\oem1.pnf", "pnf");

    EXPECT_EQ(0, RunRemoval());

    EXPECT_EQ(2u, Sim::CallsOf("SetupDiGetClassDevsA").size());
    // The first ID's pass removes its device before the second ID's pass runs.
    EXPECT_EQ(Sim::CallsOf("SetupDiCallClassInstaller"),
              (std::vector<std::string>{std::to_string(first), std::to_string(second)}));
    EXPECT_TRUE(Sim::CallsOf("RegOpenKeyExA").empty());
    EXPECT_FALSE(Sim::FileExists("C:\\WINDOWS\\inf\\oem1.inf"));
    EXPECT_FALSE(Sim::FileExists("C:\\WINDOWS\\inf\\oem1.pnf"));
    EXPECT_EQ(0, Sim::DeviceCount());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{DeviceInfoRemovedText});
    EXPECT_EQ(std::string(StartLineText) + EndLineText, Sim::Console());
}

TEST_F(RemovalRunTest, NinexFamilyTakesBothEnumKeysThenBothInfCopies) {
    for (Win::DWORD platform : {Win::VER_PLATFORM_WIN32s, Win::VER_PLATFORM_WIN32_WINDOWS}) {
        NewMachine();
        Sim::SetPlatformId(platform);

        EXPECT_EQ(0, RunRemoval());

        std::vector<std::string> opened = Sim::CallsOf("RegOpenKeyExA");
        ASSERT_EQ(2u, opened.size());
        EXPECT_EQ(std::string("ENUM\\") + FirstHardwareId, opened[0]);
        EXPECT_EQ(std::string("ENUM\\") + SecondHardwareId, opened[1]);
        EXPECT_EQ(Sim::CallsOf("FindFirstFileA"),
                  (std::vector<std::string>{std::string("C:\\WINDOWS\\inf\\other\\") + InfCopyName9xMe,
                                            std::string("C:\\WINDOWS\\inf\\other\\") + InfCopyName2kXp}));
        EXPECT_TRUE(Sim::CallsOf("SetupDiGetClassDevsA").empty());
        EXPECT_TRUE(Sim::CallsOf("fopen").empty());
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{DeviceInfoNotFoundText});
    }
}

TEST_F(RemovalRunTest, FailedVersionQueryTakesTheNinexBranch) {
    Sim::SetPlatformId(Win::VER_PLATFORM_WIN32_NT);
    Sim::Fail(Sim::Op::GetVersionEx, 87);
    RunRemoval();
    EXPECT_TRUE(Sim::CallsOf("SetupDiGetClassDevsA").empty());
    EXPECT_EQ(2u, Sim::CallsOf("RegOpenKeyExA").size());
}

TEST_F(RemovalRunTest, InfDeletedWithoutDevicesStillSaysNotFound) {
    Sim::AddFile("C:\\WINDOWS\\inf\\oem0.inf", std::string(InfSignatureLine) + "\r\n");
    Sim::AddFile("C:\\WINDOWS\\inf\\oem0.pnf", "pnf");
    EXPECT_EQ(0, RunRemoval());
    EXPECT_FALSE(Sim::FileExists("C:\\WINDOWS\\inf\\oem0.inf"));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{DeviceInfoNotFoundText});
}

TEST_F(RemovalRunTest, AnyFailureBoxMakesTheExitStatusOne) {
    const std::string denied = "Access is denied.\r\n";
    struct Case {
        const char* what;
        Sim::Op op;
        Win::DWORD code;
        std::vector<std::string> failures;
    };
    const Case cases[] = {
        {"no device set, twice", Sim::Op::GetClassDevs, 5,
         {FailureText("GetClassDevs()", 5, denied), FailureText("GetClassDevs()", 5, denied)}},
        // The refused device is the only match: nothing was removed, and one box was shown.
        {"the only match refused", Sim::Op::CallClassInstaller, 5,
         {FailureText("CallClassInstaller(REMOVE)", 5, denied)}},
        // A code without a system text gives the short box, which counts all the same.
        {"the only match refused, no system text", Sim::Op::CallClassInstaller, 32,
         {"CallClassInstaller(REMOVE) FAILURE: (0x00000020)\n"}},
    };
    for (const Case& c : cases) {
        NewMachine();
        SCOPED_TRACE(c.what);
        int device = Sim::AddDeviceWithIds({FirstHardwareId});
        Sim::Fail(c.op, c.code);

        EXPECT_EQ(1, RunRemoval());

        std::vector<std::string> expected = c.failures;
        expected.push_back(DeviceInfoNotFoundText);
        EXPECT_EQ(BoxTexts(), expected);
        EXPECT_TRUE(Sim::DeviceExists(device));
        // Every box, failures included, appears with the start line already on the console.
        for (const Sim::MessageBoxRecord& box : Sim::Boxes()) EXPECT_EQ(StartLineText, box.console);
        EXPECT_EQ(std::string(StartLineText) + EndLineText, Sim::Console());
    }
}

}  // namespace
