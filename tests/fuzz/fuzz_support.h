// Shared pieces of the fuzz targets: a reader that turns the fuzzer's bytes into a machine,
// a ledger of what was arranged on it, and the one invariant every target checks: after a
// run nothing is gone from the simulated machine but the adapter's own records and files.
#ifndef KALVOR_TESTS_FUZZ_SUPPORT_H
#define KALVOR_TESTS_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace Fuzz {

// Takes bytes from the front of the input; once it is used up every read gives zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte();
    unsigned U16();  // little-endian
    std::string Bytes(std::size_t count);  // fewer when the input runs out
    std::string Rest();

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Prints the broken invariant and aborts, which libFuzzer reports as a crash.
[[noreturn]] void Violated(const char* format, ...) __attribute__((format(printf, 1, 2)));
#define FUZZ_CHECK(condition, ...)                   \
    do {                                             \
        if (!(condition)) ::Fuzz::Violated(__VA_ARGS__); \
    } while (0)

const char ClassKey[] = "System\\CurrentControlSet\\Services\\Class";

std::string Fold(const std::string& text);
// Whether path is key itself or lies below it (both relative to HKEY_LOCAL_MACHINE, or
// full file paths), without regard to letter case.
bool AtOrBelow(const std::string& path, const std::string& key);

// The part of a REG_MULTI_SZ list the program may read, split into its strings: the walk
// stays within the bytes, stops at an empty string, and a last string without its NUL ends
// at the end of the bytes.
std::vector<std::string> HardwareIds(const std::string& list);
bool ListsAdapterId(const std::string& list);

// Whether an INF read the way the program reads it (lines, each cut into pieces of at most
// 79 bytes) has a piece that begins with the signature.
bool CarriesSignature(const std::string& content);

// A fresh simulated machine and a fresh run (DeviceInfoRemoved, FailuresReported), with a
// ledger of what the target then arranges through the functions below.
void NewMachine();
void SetWindowsDirectory(const std::string& path);
const std::string& WindowsDirectory();
void AddFile(const std::string& path, const std::string& content, Win::DWORD attributes);
void AddKey(const std::string& path);
void SetValue(const std::string& keyPath, const std::string& name, const std::string& bytes,
              Win::DWORD type);
int AddDevice(const std::string& list, bool present);
int AddDeviceWithoutIds(bool present);

// A few records and files that are not the adapter's, on every machine: a neighbouring card
// and its driver key, the Class key's other classes, other INFs (two of them carrying the
// signature where the program must not look), a system file and other devices.
void AddBystanders();

// Records what the machine holds now; CheckOnlyTargetsGone compares against it.
void TakeSnapshot();

// Nothing has gone but:
// - ENUM\<either hardware ID> and the keys below it;
// - below the Class key, the key that instance "0" of either ID's ENUM key named in its
//   Driver value before the run (up to its NUL), at least two levels down, and what lies
//   below it; the Class key itself and its classes stay;
// - oemN.inf and oemN.pnf in the INF directory, for one N from 0 to 254 whose INF carried
//   the signature;
// - the two INF copies in inf\other;
// - devices that listed either hardware ID.
// Also: every handle, stream, search, device set and heap block was released (open keys
// only when registryCloseMayFail is false), and every box is an MB_OK box with the caption
// and at most 255 bytes of text.
void CheckOnlyTargetsGone(bool registryCloseMayFail = false);

// What went, by the snapshot's spelling.
std::vector<std::string> FilesGone();
std::vector<std::string> KeysGone();
std::vector<int> DevicesGone();

}  // namespace Fuzz

#endif
