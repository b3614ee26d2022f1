#include "run/removal.h"

int main(int argc, char** argv) {
    ParseCommandLine(argc, argv);
    return RunRemoval();
}
