// The 2000/XP INF search and deletion, fed arbitrary contents for several oemN.inf files.
//
// Input: a header of four bytes, then records until the input ends.
//   [0] Windows directory: below 128 C:\WINDOWS; otherwise C:\ and 2*(b-128) letters, so
//       that lengths near and past the path buffer are tried
//   [1] fault: 0 none, 1 fopen, 2 fgets, 3 FindFirstFile, 4 SetFileAttributes,
//       5 DeleteFile(inf), 6 DeleteFile(pnf), 7 GetWindowsDirectory
//   [2] the N whose file the fault hits, 255 for every file
//   [3] the error code, an index into a table
// Record: N, flags (1 INF read-only, 2 PNF present, 4 PNF read-only), length (2 bytes,
// little-endian), contents.
#include <map>
#include <string>

#include "fuzz_support.h"
#include "run/removal.h"
#include "run/texts.h"

namespace {

const Win::DWORD Codes[] = {2, 3, 5, 13, 32, 87, 122, 0xE000020B};

struct Candidate {
    std::string content;
    bool readOnly;
    bool pnf;
    bool pnfReadOnly;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fuzz::Input input(data, size);
    Fuzz::NewMachine();

    const std::uint8_t directory = input.Byte();
    const bool usualDirectory = directory < 128;
    Fuzz::SetWindowsDirectory(usualDirectory ? std::string("C:\\WINDOWS")
                                             : "C:\\" + std::string(2 * (directory - 128), 'W'));
    const std::string inf = Fuzz::WindowsDirectory() + "\\inf\\";

    const std::uint8_t fault = input.Byte() % 8;
    const std::uint8_t faultNumber = input.Byte();
    const Win::DWORD code = Codes[input.Byte() % (sizeof Codes / sizeof Codes[0])];

    std::map<int, Candidate> candidates;
    while (!input.Empty()) {
        const int number = input.Byte();
        const std::uint8_t flags = input.Byte();
        const unsigned length = input.U16();
        candidates[number] = Candidate{input.Bytes(length), (flags & 1) != 0, (flags & 2) != 0,
                                       (flags & 4) != 0};
    }
    for (const auto& entry : candidates) {
        const std::string stem = inf + "oem" + std::to_string(entry.first);
        const Candidate& candidate = entry.second;
        Fuzz::AddFile(stem + ".inf", candidate.content,
                      candidate.readOnly ? Win::FILE_ATTRIBUTE_READONLY : Win::FILE_ATTRIBUTE_ARCHIVE);
        if (candidate.pnf) {
            Fuzz::AddFile(stem + ".pnf", "PNF",
                          candidate.pnfReadOnly ? Win::FILE_ATTRIBUTE_READONLY
                                                : Win::FILE_ATTRIBUTE_ARCHIVE);
        }
    }
    Fuzz::AddBystanders();

    const std::string faultTarget =
        faultNumber == 255 ? std::string()
                           : inf + "oem" + std::to_string(faultNumber) + (fault == 6 ? ".pnf" : ".inf");
    switch (fault) {
        case 1: Sim::Fail(Sim::Op::FOpen, code, faultTarget); break;
        case 2: Sim::Fail(Sim::Op::FGets, code, faultTarget); break;
        case 3: Sim::Fail(Sim::Op::FindFirstFile, code, faultTarget); break;
        case 4: Sim::Fail(Sim::Op::SetFileAttributes, code, faultTarget); break;
        case 5:
        case 6: Sim::Fail(Sim::Op::DeleteFile, code, faultTarget); break;
        case 7: Sim::Fail(Sim::Op::GetWindowsDirectory, code); break;
        default: break;
    }

    Fuzz::TakeSnapshot();
    RemoveOemInfBySignature(InfSignatureLine);
    Fuzz::CheckOnlyTargetsGone();

    for (const std::string& path : Sim::CallsOf("fopen")) {
        FUZZ_CHECK(path.find("oem255") == std::string::npos && path.find("OEM255") == std::string::npos,
                   "%s was opened", path.c_str());
    }

    // With nothing failing on a usual machine, the lowest numbered INF that carries the
    // signature goes, with its PNF unless that is read-only, and nothing else.
    if (fault == 0 && usualDirectory) {
        int lowest = -1;
        for (const auto& entry : candidates) {
            if (entry.first <= 254 && Fuzz::CarriesSignature(entry.second.content)) {
                lowest = entry.first;
                break;
            }
        }
        std::size_t expectedGone = 0;
        if (lowest >= 0) {
            const std::string stem = inf + "oem" + std::to_string(lowest);
            FUZZ_CHECK(!Sim::FileExists(stem + ".inf"), "oem%d.inf carries the signature and stayed",
                       lowest);
            const Candidate& candidate = candidates[lowest];
            expectedGone = 1 + (candidate.pnf && !candidate.pnfReadOnly ? 1 : 0);
        }
        FUZZ_CHECK(Fuzz::FilesGone().size() == expectedGone, "%zu files went, %zu expected",
                   Fuzz::FilesGone().size(), expectedGone);
    }
    return 0;
}
