/* Linked into the coverage build only. The tests run the help path and the command-line
   scan in forked children that end with _exit or _Exit, which skip the exit handler that
   writes gcov's counters; these wrappers write them first. */
extern void __gcov_dump(void);
extern void __real__exit(int status) __attribute__((noreturn));
extern void __real__Exit(int status) __attribute__((noreturn));

void __wrap__exit(int status) {
    __gcov_dump();
    __real__exit(status);
}

void __wrap__Exit(int status) {
    __gcov_dump();
    __real__Exit(status);
}
