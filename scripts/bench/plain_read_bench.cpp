// The yardstick for the OEM INF search: opens oem0.inf to oem254.inf in the Windows INF
// directory with the same C runtime and reads each to its end in 4 KiB blocks, nothing more.
// Prints the milliseconds and the bytes read.
#include <windows.h>

#include <cstdio>

int main() {
    char windows[MAX_PATH];
    if (GetWindowsDirectoryA(windows, MAX_PATH) == 0) return 2;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    unsigned long long total = 0;
    static char block[4096];
    for (int number = 0; number <= 254; ++number) {
        char path[300];
        std::snprintf(path, sizeof path, "%s\\inf\\oem%d.inf", windows, number);
        std::FILE* file = std::fopen(path, "rb");
        if (!file) continue;
        std::size_t got;
        while ((got = std::fread(block, 1, sizeof block, file)) > 0) total += got;
        std::fclose(file);
    }
    QueryPerformanceCounter(&end);
    std::printf("%.3f %llu\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart, total);
    return 0;
}
