// The command-line scan, fed arbitrary argument vectors, followed by the run it lets through,
// on a machine where the adapter is installed.
//
// Input: [0] the platform (even: 2000/XP, odd: 98/ME), then the arguments after the program
// name, separated by NUL bytes. Each argument gets a block of exactly its own size, so that
// a read past its NUL is caught.
//
// The help ends the process through Win::exit; here its exit hook jumps back instead. The
// frames it leaves (the scan, the help and the simulated exit) hold nothing to destroy.
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "run/removal.h"
#include "run/texts.h"

namespace {

std::jmp_buf helpEnded;
int exitStatus = 0;

void OnExit(int status) {
    exitStatus = status;
    std::longjmp(helpEnded, 1);
}

void InstallAdapter(bool nt) {
    const std::string windows = Fuzz::WindowsDirectory();
    if (nt) {
        Fuzz::AddDevice(std::string(FirstHardwareId) + std::string(2, '\0'), true);
        Fuzz::AddDevice(std::string(SecondHardwareId) + std::string(2, '\0'), false);
        Fuzz::AddFile(windows + "\\inf\\oem3.inf", std::string(InfSignatureLine) + "\r\n",
                      Win::FILE_ATTRIBUTE_READONLY);
        Fuzz::AddFile(windows + "\\inf\\oem3.pnf", "PNF", Win::FILE_ATTRIBUTE_ARCHIVE);
    } else {
        const std::string driver("Ports\\0004", 11);
        Fuzz::SetValue(std::string("ENUM\\") + FirstHardwareId + "\\0", "Driver", driver, 1);
        Fuzz::AddKey(std::string(Fuzz::ClassKey) + "\\Ports\\0004");
        Fuzz::AddFile(windows + "\\inf\\other\\" + InfCopyName9xMe, "[Version]\r\n",
                      Win::FILE_ATTRIBUTE_READONLY);
    }
}

bool AsksForHelp(const std::string& argument) {
    return argument.size() >= 2 && (argument[1] == '?' || argument[1] == 'h' || argument[1] == 'H');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fuzz::Input input(data, size);
    Fuzz::NewMachine();
    const bool nt = input.Byte() % 2 == 0;
    Sim::SetPlatformId(nt ? Win::VER_PLATFORM_WIN32_NT : Win::VER_PLATFORM_WIN32_WINDOWS);
    Fuzz::AddBystanders();
    InstallAdapter(nt);

    std::vector<std::string> arguments;
    if (!input.Empty()) {
        const std::string rest = input.Rest();
        std::size_t at = 0;
        for (;;) {
            std::size_t nul = rest.find('\0', at);
            arguments.push_back(rest.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
            if (nul == std::string::npos) break;
            at = nul + 1;
        }
    }
    bool helpExpected = false;
    for (const std::string& argument : arguments) helpExpected = helpExpected || AsksForHelp(argument);

    std::vector<char*> argv;
    argv.push_back(strdup("8140KUninstall.exe"));
    for (const std::string& argument : arguments) {
        char* block = static_cast<char*>(std::malloc(argument.size() + 1));
        std::memcpy(block, argument.c_str(), argument.size() + 1);
        argv.push_back(block);
    }
    argv.push_back(nullptr);

    Sim::QueueKey('x');
    Sim::OnExit(OnExit);
    Fuzz::TakeSnapshot();
    exitStatus = 0;
    bool helpShown = false;
    if (setjmp(helpEnded) == 0) {
        ParseCommandLine(static_cast<int>(argv.size() - 1), argv.data());
        RunRemoval();
    } else {
        helpShown = true;
    }
    Sim::OnExit(nullptr);

    Fuzz::CheckOnlyTargetsGone();
    FUZZ_CHECK(helpShown == helpExpected, "help shown: %d, asked for: %d", helpShown, helpExpected);
    if (helpShown) {
        std::string help;
        for (const char* line : HelpLines) help += line;
        FUZZ_CHECK(exitStatus == -1, "the help ended with status %d", exitStatus);
        FUZZ_CHECK(Sim::Console() == help, "the console after the help: %s", Sim::Console().c_str());
        FUZZ_CHECK(Sim::KeysQueued() == 0, "the help did not wait for the key");
        FUZZ_CHECK(Fuzz::FilesGone().empty() && Fuzz::KeysGone().empty() &&
                       Fuzz::DevicesGone().empty() && Sim::Boxes().empty(),
                   "the help touched the machine");
    } else {
        FUZZ_CHECK(Sim::KeysQueued() == 1, "a key was read without the help");
        FUZZ_CHECK(!Fuzz::DevicesGone().empty() || !Fuzz::KeysGone().empty(),
                   "the run removed nothing of the installed adapter");
    }

    // The scan folds a to z in place and changes no other byte.
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& before = arguments[i];
        const char* after = argv[i + 1];
        FUZZ_CHECK(std::strlen(after) == before.size(), "argument %zu changed length", i);
        for (std::size_t j = 0; j < before.size(); ++j) {
            const char c = before[j];
            const char folded = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            // Arguments after the help switch are never looked at, folded or not.
            FUZZ_CHECK(after[j] == folded || (helpShown && after[j] == c),
                       "argument %zu byte %zu: 0x%02x became 0x%02x", i, j, c & 0xff,
                       after[j] & 0xff);
        }
    }
    for (char* block : argv) std::free(block);
    return 0;
}
