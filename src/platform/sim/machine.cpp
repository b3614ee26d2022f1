// The simulated machine: its state, fault injection, the version query, the last-error
// value and the local heap. See sim.h.
#include "platform/sim/machine.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Simulated {

[[noreturn]] void Unmodelled(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("simulated Windows: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    std::fflush(stderr);
    std::abort();
}

std::string Fold(const std::string& text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

namespace {
Machine* machine = nullptr;
}  // namespace

Machine& M() {
    if (!machine) machine = new Machine();
    return *machine;
}

void Log(const char* name, const std::string& target) {
    // No run of the program makes nearly this many calls; one that does is looping, and
    // would fill the host's memory with this log before a test's time limit ended it.
    if (M().calls.size() >= 5000000) Unmodelled("more than 5000000 Windows calls: an endless loop?");
    M().calls.push_back(target.empty() ? std::string(name) : std::string(name) + " " + target);
}

DWORD Injected(Sim::Op op, const std::string& target) {
    std::string folded = Fold(target);
    for (Fault& fault : M().faults) {
        if (fault.op != op || fault.times == 0) continue;
        if (!fault.target.empty() && fault.target != folded) continue;
        if (fault.after > 0) {
            --fault.after;
            continue;
        }
        if (fault.times > 0) --fault.times;
        return fault.code;
    }
    return 0;
}

std::uintptr_t NewHandle() { return M().nextHandle += 4; }

void* NewLocalBlock(std::size_t bytes) {
    void* block = std::calloc(bytes ? bytes : 1, 1);
    if (!block) Unmodelled("out of host memory");
    M().localBlocks.insert(block);
    return block;
}

}  // namespace Simulated

using namespace Simulated;

namespace Win {

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    Log("GetVersionExA");
    if (!info) Unmodelled("GetVersionExA without a record");
    if (DWORD code = Injected(Sim::Op::GetVersionEx)) {
        // A failed call leaves its record undefined. Junk whose platform ID reads as NT
        // makes a caller that trusts the record anyway take the wrong branch.
        std::memset(info, 0xA5, sizeof *info);
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        M().lastError = code;
        return FALSE;
    }
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    bool nt = M().platformId == VER_PLATFORM_WIN32_NT;
    info->dwMajorVersion = nt ? 5 : 4;
    info->dwMinorVersion = nt ? 1 : 10;
    info->dwBuildNumber = nt ? 2600 : 2222;
    info->dwPlatformId = M().platformId;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return Succeeded(TRUE);
}

DWORD GetLastError() { return M().lastError; }

void SetLastError(DWORD code) { M().lastError = code; }

HLOCAL LocalAlloc(UINT flags, std::size_t bytes) {
    Log("LocalAlloc", std::to_string(bytes));
    if (flags != LMEM_ZEROINIT) Unmodelled("LocalAlloc with flags 0x%x: only LMEM_ZEROINIT is modelled", flags);
    if (DWORD code = Injected(Sim::Op::LocalAlloc)) {
        M().lastError = code;
        return nullptr;
    }
    return Succeeded(NewLocalBlock(bytes));
}

HLOCAL LocalFree(HLOCAL block) {
    Log("LocalFree");
    if (!block) return nullptr;
    if (!M().localBlocks.erase(block)) Unmodelled("LocalFree of a block that is not allocated");
    std::free(block);
    return Succeeded<HLOCAL>(nullptr);
}

}  // namespace Win

namespace Sim {

void Reset() {
    if (machine) {
        for (void* block : machine->localBlocks) std::free(block);
        delete machine;
    }
    machine = new Machine();
    SetDefaultTexts(*machine);
}

void Fail(Op op, DWORD code, const std::string& target, int times, int after) {
    M().faults.push_back(Fault{op, code, Fold(target), times, after});
}

void SetPlatformId(DWORD platformId) { M().platformId = platformId; }

const std::vector<std::string>& Calls() { return M().calls; }

std::vector<std::string> CallsOf(const std::string& name) {
    std::vector<std::string> targets;
    for (const std::string& call : M().calls) {
        if (call == name) {
            targets.push_back(std::string());
        } else if (call.compare(0, name.size() + 1, name + " ") == 0) {
            targets.push_back(call.substr(name.size() + 1));
        }
    }
    return targets;
}

DWORD LastError() { return M().lastError; }

int LocalBlocksOutstanding() { return static_cast<int>(M().localBlocks.size()); }

}  // namespace Sim
