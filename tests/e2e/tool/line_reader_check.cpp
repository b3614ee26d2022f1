// linecheck DIR: the platform's own line reader (Win::fopen, fgets, feof) against the C
// runtime's, read for read, over files written into DIR. Each file is read with several
// limits; every call must give the same result, the same bytes and the same end-of-file
// state. Prints LINECHECK with the number of reads compared, and the first difference of
// each file and limit to standard error.
//
// win.h only, no <windows.h>: its macros would clash with the Win:: names.
#include "platform/win.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const std::size_t Block = 65536;  // the reader's block

struct Sample {
    std::string name;
    std::string data;
};

std::string Repeat(const std::string& piece, std::size_t size) {
    std::string out;
    while (out.size() < size) out += piece;
    out.resize(size);
    return out;
}

// Lines of every length from 0 to 170, CR LF ended, so each length meets each word
// alignment and the 79-byte piece edge.
std::string EveryLength() {
    std::string out;
    for (std::size_t n = 0; n <= 170; ++n) {
        for (std::size_t i = 0; i < n; ++i) out += static_cast<char>('a' + (n + i) % 26);
        out += "\r\n";
    }
    return out;
}

// Deterministic bytes of every value, line feeds about one in 40, NULs among them.
std::string Noise(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        const unsigned value = (seed >> 16) & 0xFF;
        out[i] = (value % 40 == 0) ? '\n' : static_cast<char>(value);
    }
    return out;
}

void AddSamples(Sample* samples, int* count) {
    int n = 0;
    samples[n++] = {"empty", ""};
    samples[n++] = {"one-byte", "x"};
    samples[n++] = {"lone-lf", "\n"};
    samples[n++] = {"only-lfs", std::string(9, '\n')};
    samples[n++] = {"no-final-lf", "[Version]\r\nClass=Ports"};
    samples[n++] = {"cr-only", "a\rb\rc\r"};
    samples[n++] = {"nul-bytes", std::string("ab\0cd\n\0\0\n\0", 10)};
    samples[n++] = {"high-bytes", "\x81\x0a\x95\x5c\x0a\xff\xfe\x0a\x0a\x0b\x09"};
    samples[n++] = {"every-length", EveryLength()};
    samples[n++] = {"block-exact", Repeat("0123456789abcdef\r\n", Block)};
    samples[n++] = {"block-less-one", Repeat("0123456789abcdef\r\n", Block - 1)};
    samples[n++] = {"block-plus-one", Repeat("0123456789abcdef\r\n", Block + 1)};
    // A line feed as the last byte of the first block, then as the first of the second.
    samples[n++] = {"lf-last-in-block", std::string(Block - 1, 'y') + "\n" + "tail\n"};
    samples[n++] = {"lf-first-in-block", std::string(Block, 'z') + "\nnext"};
    samples[n++] = {"long-line", std::string(3 * Block + 7, 'L') + "\r\n"};
    samples[n++] = {"noise", Noise(3 * Block + 123, 8140)};
    *count = n;
}

bool WriteSample(const std::string& path, const std::string& data) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    return std::fclose(file) == 0 && written;
}

std::string Shown(const char* bytes, std::size_t size) {
    std::string out;
    char hex[4];
    for (std::size_t i = 0; i < size && i < 40; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(bytes[i]));
        out += hex;
    }
    if (size > 40) out += "...";
    return out;
}

// Reads the file to its end through both readers with one limit. Returns the number of
// reads compared, or -1 after printing the first difference.
long Compare(const std::string& name, const std::string& path, int limit) {
    std::FILE* theirs = std::fopen(path.c_str(), "rb");
    Win::FILE* ours = Win::fopen(path.c_str(), "rb");
    if (!theirs || !ours) {
        std::fprintf(stderr, "e2etool linecheck: %s: cannot open\n", name.c_str());
        if (theirs) std::fclose(theirs);
        if (ours) Win::fclose(ours);
        return -1;
    }
    long reads = 0;
    bool same = true;
    while (same) {
        // Both buffers start alike, with a fill that changes from read to read, so that a
        // byte written past the terminator shows as a difference.
        const int fill = (reads % 2) ? 0x55 : 0xAA;
        char theirLine[256];
        char ourLine[256];
        std::memset(theirLine, fill, sizeof theirLine);
        std::memset(ourLine, fill, sizeof ourLine);
        const char* theirResult = std::fgets(theirLine, limit, theirs);
        const char* ourResult = Win::fgets(ourLine, limit, ours);
        ++reads;
        const bool theirEnd = std::feof(theirs) != 0;
        const bool ourEnd = Win::feof(ours) != 0;
        same = (theirResult == nullptr) == (ourResult == nullptr) && theirEnd == ourEnd &&
               std::memcmp(theirLine, ourLine, sizeof theirLine) == 0;
        if (!same) {
            std::fprintf(stderr, "e2etool linecheck: %s, limit %d, read %ld: runtime %s eof=%d [%s], ours %s eof=%d [%s]\n",
                        name.c_str(), limit, reads, theirResult ? "line" : "null", theirEnd ? 1 : 0,
                        Shown(theirLine, static_cast<std::size_t>(limit)).c_str(),
                        ourResult ? "line" : "null", ourEnd ? 1 : 0,
                        Shown(ourLine, static_cast<std::size_t>(limit)).c_str());
        }
        if (!theirResult) break;
    }
    std::fclose(theirs);
    Win::fclose(ours);
    return same ? reads : -1;
}

}  // namespace

int CheckLineReader(const char* directory) {
    static Sample samples[32];
    int count = 0;
    AddSamples(samples, &count);
    const int limits[] = {80, 2, 3, 4, 5, 6, 9, 128, 256};
    long reads = 0;
    int differences = 0;
    for (int i = 0; i < count; ++i) {
        const std::string path = std::string(directory) + "\\" + samples[i].name + ".txt";
        if (!WriteSample(path, samples[i].data)) {
            std::fprintf(stderr, "e2etool linecheck: cannot write %s\n", path.c_str());
            return 1;
        }
        for (int limit : limits) {
            const long compared = Compare(samples[i].name, path, limit);
            if (compared < 0) {
                ++differences;
            } else {
                reads += compared;
            }
        }
    }
    std::printf("LINECHECK %d files %ld reads %d differences\n", count, reads, differences);
    return differences ? 1 : 0;
}
