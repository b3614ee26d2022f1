// The simulated console, message boxes and system message texts. See sim.h.
#include "platform/sim/machine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Simulated;

namespace {

// "%1" to "%99" stand for arguments; the escapes ("%%", "%n", ...) need none.
bool HasInsert(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (text[i + 1] >= '1' && text[i + 1] <= '9') return true;
        ++i;
    }
    return false;
}

}  // namespace

namespace Simulated {

void SetDefaultTexts(Machine& m) {
    m.texts[0] = "The operation completed successfully.\r\n";
    m.texts[2] = "The system cannot find the file specified.\r\n";
    m.texts[3] = "The system cannot find the path specified.\r\n";
    m.texts[5] = "Access is denied.\r\n";
    m.texts[6] = "The handle is invalid.\r\n";
    m.texts[8] = "Not enough storage is available to process this command.\r\n";
    m.texts[13] = "The data is invalid.\r\n";
    m.texts[87] = "The parameter is incorrect.\r\n";
    m.texts[122] = "The data area passed to a system call is too small.\r\n";
    m.texts[234] = "More data is available.\r\n";
    m.texts[259] = "No more data is available.\r\n";
}

}  // namespace Simulated

namespace Win {

int WriteStdout(const char* text) {
    Log("WriteStdout");
    if (!text) Unmodelled("WriteStdout without a text");
    if (DWORD code = Injected(Sim::Op::WriteStdout)) {
        M().lastError = code;
        return -1;
    }
    M().console += text;
    return Succeeded(static_cast<int>(std::strlen(text)));
}

int _getch() {
    Log("_getch");
    if (M().keys.empty()) Unmodelled("_getch with no key press queued: the program would wait forever");
    int key = M().keys.front();
    M().keys.erase(M().keys.begin());
    return key;
}

void exit(int status) {
    Log("exit");
    if (M().exitHook) M().exitHook(status);
    std::fflush(nullptr);
    std::_Exit(status);
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    Log("MessageBoxA");
    if (!text || !caption) Unmodelled("MessageBoxA without a text or caption");
    if (type != MB_OK) Unmodelled("MessageBoxA of type 0x%x: only MB_OK boxes are modelled", type);
    if (DWORD code = Injected(Sim::Op::MessageBox)) {
        M().lastError = code;
        return 0;
    }
    M().boxes.push_back(Sim::MessageBoxRecord{owner, text, caption, type, M().console});
    if (M().boxHook) M().boxHook(M().boxes.back());
    return Succeeded(1);  // IDOK
}

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments) {
    Log("FormatMessageA");
    if ((flags & ~FORMAT_MESSAGE_IGNORE_INSERTS) !=
            (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM) ||
        source || languageId != LANG_NEUTRAL_SUBLANG_DEFAULT || arguments || !buffer) {
        Unmodelled("FormatMessageA with flags 0x%x, language 0x%x: not modelled", flags, languageId);
    }
    (void)size;
    if (DWORD code = Injected(Sim::Op::FormatMessage)) {
        M().lastError = code;
        return 0;
    }
    auto it = M().texts.find(messageId);
    if (it == M().texts.end()) {
        M().lastError = 317;  // ERROR_MR_MID_NOT_FOUND
        return 0;
    }
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && HasInsert(it->second)) {
        Unmodelled("FormatMessageA of a text with inserts and no arguments: Windows would read "
                   "arguments that were never passed");
    }
    char* text = static_cast<char*>(NewLocalBlock(it->second.size() + 1));
    std::memcpy(text, it->second.data(), it->second.size());
    *reinterpret_cast<char**>(buffer) = text;
    return Succeeded(static_cast<DWORD>(it->second.size()));
}

}  // namespace Win

namespace Sim {

const std::string& Console() { return M().console; }
void QueueKey(int key) { M().keys.push_back(key); }
int KeysQueued() { return static_cast<int>(M().keys.size()); }
void OnExit(std::function<void(int)> hook) { M().exitHook = std::move(hook); }

const std::vector<MessageBoxRecord>& Boxes() { return M().boxes; }
void OnMessageBox(std::function<void(const MessageBoxRecord&)> hook) { M().boxHook = std::move(hook); }

void SetMessageText(DWORD code, const std::string& text) { M().texts[code] = text; }
void ClearMessageTexts() { M().texts.clear(); }

}  // namespace Sim
