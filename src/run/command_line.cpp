#include "platform/win.h"
#include "run/removal.h"
#include "run/texts.h"

void ParseCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        char* argument = argv[i];
        // Only ASCII letters are folded: the bytes of a double-byte character are left as
        // they are apart from that, as the C runtime of the time did.
        for (char* p = argument; *p != '\0'; ++p) {
            if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
        }
        // The switch character itself may be anything: "/?", "-h" and "xH" all ask for help.
        if (argument[0] != '\0' && (argument[1] == '?' || argument[1] == 'H')) {
            ShowHelpAndExit();
        }
    }
}

void ShowHelpAndExit() {
    for (const char* line : HelpLines) Win::WriteStdout(line);
    Win::_getch();
    Win::exit(-1);
}
