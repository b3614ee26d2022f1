/* The program's entry point, in place of the MinGW-w64 runtime's startup code. That code
   comes prebuilt for the Pentium Pro and would stop the program on a Pentium or a 486
   before main is reached. msvcrt.dll sets itself up when it is loaded; all the program
   needs from a startup is its arguments, and exit then flushes and closes the streams. */
#include <stdlib.h>

typedef struct {
    int newMode;
} StartupInfo;

/* msvcrt.dll's own startup helpers, exported since Visual C++ 4.2. */
__declspec(dllimport) void __cdecl __set_app_type(int type);
__declspec(dllimport) void __cdecl __getmainargs(int* argc, char*** argv, char*** envp,
                                                 int expandWildcards, StartupInfo* startup);

int main(int argc, char** argv);

void mainCRTStartup(void) {
    int argc = 0;
    char** argv = NULL;
    char** envp = NULL;
    StartupInfo startup = {0};
    __set_app_type(1); /* a console program: runtime errors go to the console */
    __getmainargs(&argc, &argv, &envp, 0, &startup);
    exit(main(argc, argv));
}

typedef int(__cdecl* OnExitFunction)(void);
__declspec(dllimport) OnExitFunction __cdecl _onexit(OnExitFunction function);

/* The compiler's call of __main at the top of main runs the static constructors and hands
   their destructors to atexit, which the runtime's startup code would otherwise define. */
int __cdecl atexit(void(__cdecl* function)(void)) {
    /* C has no other cast; msvcrt ignores what an exit function returns. */
    /* cppcheck-suppress cstyleCast */
    return _onexit((OnExitFunction)function) ? 0 : -1;
}
