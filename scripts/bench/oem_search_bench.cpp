// Times one OEM INF search, as the 2000/XP run makes it, over whatever oemN.inf files the
// Windows INF directory holds. Prints the milliseconds and the search's status (1: no match).
#include <windows.h>

#include <cstdio>

#include "run/removal.h"
#include "run/texts.h"

int main() {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int status = RemoveOemInfBySignature(InfSignatureLine);
    QueryPerformanceCounter(&end);
    std::printf("%.3f %d\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart, status);
    return 0;
}
