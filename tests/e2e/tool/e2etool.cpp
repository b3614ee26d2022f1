/*
 * e2etool: arranges and inspects a Wine machine for the end-to-end tests of
 * 8140KUninstall.exe, through the same Win32 APIs that the uninstaller uses.
 *
 * Usage: e2etool COMMAND [ARGS...] [+ COMMAND [ARGS...]]...
 * Several commands may be given in one call, separated by a lone "+", so that
 * arranging or inspecting a machine costs one Wine process start.
 *
 * Every byte string that may hold something other than printable ASCII is
 * printed as lower-case hex ("-" when empty), so the harness reads the exact
 * bytes that Windows returned. Arguments that start with "x:" are read as hex
 * the same way, for bytes the command line cannot carry faithfully.
 *
 * Commands:
 *   version                          VERSION <platformId> <major> <minor>
 *   windir                           WINDIR <hex>
 *   errtext CODE [FLAGS]             ERRTEXT <code> <hex of FormatMessageA text|->, with
 *                                    the uninstaller's flags (1300) or FLAGS (hex)
 *   devadd [--nul-less] [--driver INF] [ID...]   DEVADD <hex instance id>
 *       A root-enumerated device in the Ports class with the given hardware-ID
 *       list, registered (DIF_REGISTERDEVICE); with no ID it has no HardwareID
 *       property at all; --nul-less stores the list without its terminating NULs
 *       (the last string unended); --driver installs the best driver that INF
 *       offers for it, as a setup program does from its disk.
 *   copyinf INF                      COPYINF <hex name of the copy in the INF folder>
 *       SetupCopyOEMInfA, as a setup program hands its INF to Windows.
 *   devlist                          DEV <hex instance id> OK <hex list bytes> <hex driver key>
 *                                    DEV <hex instance id> ERR <code> <hex driver key>
 *       Every device the Setup API knows, over all classes, present or not.
 *   regkey ROOT PATH                 REGKEY <hex path>
 *   regset ROOT PATH NAME TYPE HEX   REGSET <hex path> <hex name>
 *       NAME "@" is the default value; TYPE is a number (1 REG_SZ, 4 DWORD,
 *       7 MULTI_SZ, ...); HEX gives the exact data bytes.
 *   regdump ROOT PATH                ROOT <root>, then
 *                                    KEY <hex path>
 *                                    VAL <hex path> <hex name> <type> <hex data>
 *                                    NOKEY <hex path> <code>
 *       The key and everything below it, depth first, names in enumeration order.
 *   files DIR                        DIR <hex dir>, then
 *                                    FILE <hex name> <attributes hex> <size>
 *                                    NODIR <hex dir> <code>
 *   attrib PATH ATTR                 ATTRIB <hex path>  (ATTR in hex)
 *   loadlib NAME                     LOADLIB <name> OK | LOADLIB <name> ERR <code>
 *   linecheck DIR                    LINECHECK <files> files <reads> reads <n> differences
 *       Writes sample files into DIR and reads each through the program's own
 *       line reader and through the C runtime's fgets; status 1 on a difference.
 *   wait                             READY, then sleeps until killed
 *       Keeps Wine's own service processes running between the other calls, so
 *       that they are not restarted under a program's debug settings.
 *
 * ROOT is HKLM or HKCU. Exit status 0, or 2 after a failed arranging step
 * (the reason goes to standard error).
 */
#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void put_hex(const unsigned char *p, size_t n)
{
    size_t i;
    if (n == 0) {
        fputs("-", stdout);
        return;
    }
    for (i = 0; i < n; i++)
        printf("%02x", p[i]);
}

static void put_hex_str(const char *s) { put_hex((const unsigned char *)s, strlen(s)); }

static int hexval(int c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Decodes hex text ("-" is empty) into a fresh buffer with two spare NULs. */
static unsigned char *from_hex(const char *s, size_t *len)
{
    size_t n = strlen(s), i;
    unsigned char *out;
    if (strcmp(s, "-") == 0) n = 0;
    if (n % 2) return NULL;
    out = (unsigned char *)calloc(n / 2 + 2, 1);
    if (!out) return NULL;
    for (i = 0; i < n / 2; i++) {
        int hi = hexval(s[2 * i]), lo = hexval(s[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            free(out);
            return NULL;
        }
        out[i] = (unsigned char)(hi * 16 + lo);
    }
    *len = n / 2;
    return out;
}

/* A text argument, plain or "x:"-prefixed hex; the result is NUL-terminated. */
static char *text_arg(const char *s)
{
    size_t n;
    if (strncmp(s, "x:", 2) == 0) return (char *)from_hex(s + 2, &n);
    return _strdup(s);
}

static int fail(const char *what, DWORD code)
{
    fprintf(stderr, "e2etool: %s failed with %lu\n", what, (unsigned long)code);
    return 2;
}

static HKEY root_key(const char *name)
{
    if (_stricmp(name, "HKLM") == 0) return HKEY_LOCAL_MACHINE;
    if (_stricmp(name, "HKCU") == 0) return HKEY_CURRENT_USER;
    return NULL;
}

static int cmd_version(void)
{
    OSVERSIONINFOA v;
    memset(&v, 0, sizeof v);
    v.dwOSVersionInfoSize = sizeof v;
    if (!GetVersionExA(&v)) return fail("GetVersionExA", GetLastError());
    printf("VERSION %lu %lu %lu\n", (unsigned long)v.dwPlatformId,
           (unsigned long)v.dwMajorVersion, (unsigned long)v.dwMinorVersion);
    return 0;
}

static int cmd_windir(void)
{
    char dir[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir) return fail("GetWindowsDirectoryA", GetLastError());
    fputs("WINDIR ", stdout);
    put_hex_str(dir);
    fputs("\n", stdout);
    return 0;
}

/* By default the request the uninstaller makes for its failure boxes (flags 1300: the
 * inserts, "%1", that some texts hold are left as they stand); FLAGS, in hex, for another. */
static int cmd_errtext(const char *arg, const char *flags)
{
    DWORD code = strtoul(arg, NULL, 0);
    char *text = NULL;
    DWORD n = FormatMessageA(strtoul(flags, NULL, 16), NULL, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
    printf("ERRTEXT %lu ", (unsigned long)code);
    if (n && text)
        put_hex((const unsigned char *)text, n);
    else
        fputs("-", stdout);
    fputs("\n", stdout);
    if (text) LocalFree(text);
    return 0;
}

/* The Setup API is looked up at run time, so that the helper also starts on a machine
 * where setupapi.dll is switched off (and can then tell what loading it gives). */
static decltype(&SetupDiCreateDeviceInfoList) pCreateDeviceInfoList;
static decltype(&SetupDiCreateDeviceInfoA) pCreateDeviceInfoA;
static decltype(&SetupDiSetDeviceRegistryPropertyA) pSetDeviceRegistryPropertyA;
static decltype(&SetupDiGetDeviceInstanceIdA) pGetDeviceInstanceIdA;
static decltype(&SetupDiDestroyDeviceInfoList) pDestroyDeviceInfoList;
static decltype(&SetupDiGetClassDevsA) pGetClassDevsA;
static decltype(&SetupDiEnumDeviceInfo) pEnumDeviceInfo;
static decltype(&SetupDiGetDeviceRegistryPropertyA) pGetDeviceRegistryPropertyA;
static decltype(&SetupDiCallClassInstaller) pCallClassInstaller;
static decltype(&SetupDiGetDeviceInstallParamsA) pGetDeviceInstallParamsA;
static decltype(&SetupDiSetDeviceInstallParamsA) pSetDeviceInstallParamsA;
static decltype(&SetupDiBuildDriverInfoList) pBuildDriverInfoList;
static decltype(&SetupDiSelectBestCompatDrv) pSelectBestCompatDrv;
static decltype(&SetupDiInstallDevice) pInstallDevice;
static decltype(&SetupCopyOEMInfA) pCopyOEMInfA;

template <typename F>
static bool resolve(HMODULE dll, F &f, const char *name)
{
    f = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
    return f != nullptr;
}

static int load_setupapi(void)
{
    static int loaded = 0;
    HMODULE dll;
    if (loaded) return 0;
    dll = LoadLibraryA("setupapi.dll");
    if (!dll) return fail("LoadLibraryA(setupapi.dll)", GetLastError());
    if (!resolve(dll, pCreateDeviceInfoList, "SetupDiCreateDeviceInfoList") ||
        !resolve(dll, pCreateDeviceInfoA, "SetupDiCreateDeviceInfoA") ||
        !resolve(dll, pSetDeviceRegistryPropertyA, "SetupDiSetDeviceRegistryPropertyA") ||
        !resolve(dll, pGetDeviceInstanceIdA, "SetupDiGetDeviceInstanceIdA") ||
        !resolve(dll, pDestroyDeviceInfoList, "SetupDiDestroyDeviceInfoList") ||
        !resolve(dll, pGetClassDevsA, "SetupDiGetClassDevsA") ||
        !resolve(dll, pEnumDeviceInfo, "SetupDiEnumDeviceInfo") ||
        !resolve(dll, pGetDeviceRegistryPropertyA, "SetupDiGetDeviceRegistryPropertyA") ||
        !resolve(dll, pCallClassInstaller, "SetupDiCallClassInstaller") ||
        !resolve(dll, pGetDeviceInstallParamsA, "SetupDiGetDeviceInstallParamsA") ||
        !resolve(dll, pSetDeviceInstallParamsA, "SetupDiSetDeviceInstallParamsA") ||
        !resolve(dll, pBuildDriverInfoList, "SetupDiBuildDriverInfoList") ||
        !resolve(dll, pSelectBestCompatDrv, "SetupDiSelectBestCompatDrv") ||
        !resolve(dll, pInstallDevice, "SetupDiInstallDevice") ||
        !resolve(dll, pCopyOEMInfA, "SetupCopyOEMInfA"))
        return fail("GetProcAddress(setupapi.dll)", GetLastError());
    loaded = 1;
    return 0;
}

static int cmd_loadlib(const char *name)
{
    HMODULE dll = LoadLibraryA(name);
    DWORD code = GetLastError();
    printf("LOADLIB %s ", name);
    if (dll) {
        puts("OK");
        FreeLibrary(dll);
    } else {
        printf("ERR %lu\n", (unsigned long)code);
    }
    return 0;
}

static const GUID ports_class = {0x4d36e978, 0xe325, 0x11ce,
                                 {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

static int cmd_devadd(int argc, char **argv)
{
    int nul_less = 0, i, first = 0;
    const char *driver_inf = NULL;
    size_t size = 0, pos = 0;
    unsigned char *list;
    HDEVINFO set;
    SP_DEVINFO_DATA dev;
    char id[512];

    for (;;) {
        if (first < argc && strcmp(argv[first], "--nul-less") == 0) {
            nul_less = 1;
            first++;
        } else if (first + 1 < argc && strcmp(argv[first], "--driver") == 0) {
            driver_inf = argv[first + 1];
            first += 2;
        } else {
            break;
        }
    }
    for (i = first; i < argc; i++) size += strlen(argv[i]) + 1;
    list = (unsigned char *)calloc(size + 2, 1);
    if (!list) return fail("calloc", 0);
    for (i = first; i < argc; i++) {
        size_t n = strlen(argv[i]);
        memcpy(list + pos, argv[i], n);
        pos += n + 1;
    }
    /* A proper list ends with an empty string: one more NUL after the last one. */
    size = nul_less ? (pos ? pos - 1 : 0) : pos + 1;
    /* RegSetValueExA counts a NUL that directly follows the data as part of it, as
     * Windows does; a non-NUL byte there keeps the stored list truly unended. */
    if (nul_less) list[size] = 'Z';

    set = pCreateDeviceInfoList(&ports_class, NULL);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiCreateDeviceInfoList", GetLastError());
    memset(&dev, 0, sizeof dev);
    dev.cbSize = sizeof dev;
    if (!pCreateDeviceInfoA(set, "KALVORE2E", &ports_class, NULL, NULL,
                                  DICD_GENERATE_ID, &dev))
        return fail("SetupDiCreateDeviceInfoA", GetLastError());
    if (argc > first &&
        !pSetDeviceRegistryPropertyA(set, &dev, SPDRP_HARDWAREID, list, (DWORD)size))
        return fail("SetupDiSetDeviceRegistryPropertyA", GetLastError());
    if (!pCallClassInstaller(DIF_REGISTERDEVICE, set, &dev))
        return fail("DIF_REGISTERDEVICE", GetLastError());
    if (driver_inf) {
        /* Only the disk's INF is searched, as when the user points the wizard at it. */
        SP_DEVINSTALL_PARAMS_A params;
        memset(&params, 0, sizeof params);
        params.cbSize = sizeof params;
        if (!pGetDeviceInstallParamsA(set, &dev, &params))
            return fail("SetupDiGetDeviceInstallParamsA", GetLastError());
        params.Flags |= DI_ENUMSINGLEINF;
        snprintf(params.DriverPath, sizeof params.DriverPath, "%s", driver_inf);
        if (!pSetDeviceInstallParamsA(set, &dev, &params))
            return fail("SetupDiSetDeviceInstallParamsA", GetLastError());
        if (!pBuildDriverInfoList(set, &dev, SPDIT_COMPATDRIVER))
            return fail("SetupDiBuildDriverInfoList", GetLastError());
        if (!pSelectBestCompatDrv(set, &dev))
            return fail("SetupDiSelectBestCompatDrv", GetLastError());
        if (!pInstallDevice(set, &dev)) return fail("SetupDiInstallDevice", GetLastError());
    }
    if (!pGetDeviceInstanceIdA(set, &dev, id, sizeof id, NULL))
        return fail("SetupDiGetDeviceInstanceIdA", GetLastError());
    pDestroyDeviceInfoList(set);
    free(list);
    fputs("DEVADD ", stdout);
    put_hex_str(id);
    fputs("\n", stdout);
    return 0;
}

static int cmd_copyinf(const char *inf)
{
    char dest[MAX_PATH];
    char *name = NULL;
    if (!pCopyOEMInfA(inf, NULL, SPOST_PATH, 0, dest, sizeof dest, NULL, &name))
        return fail("SetupCopyOEMInfA", GetLastError());
    fputs("COPYINF ", stdout);
    put_hex_str(name ? name : dest);
    fputs("\n", stdout);
    return 0;
}

/* The device's driver key below the Class key, "-" when it has none. */
static void put_driver_key(HDEVINFO set, SP_DEVINFO_DATA *dev)
{
    char key[256];
    fputs(" ", stdout);
    if (pGetDeviceRegistryPropertyA(set, dev, SPDRP_DRIVER, NULL, (BYTE *)key, sizeof key, NULL))
        put_hex_str(key);
    else
        fputs("-", stdout);
    fputs("\n", stdout);
}

static int cmd_devlist(void)
{
    HDEVINFO set = pGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA dev;
    DWORD index;
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiGetClassDevsA", GetLastError());
    for (index = 0;; index++) {
        char id[512];
        DWORD need = 0, type = 0;
        unsigned char *buf = NULL;
        memset(&dev, 0, sizeof dev);
        dev.cbSize = sizeof dev;
        if (!pEnumDeviceInfo(set, index, &dev)) break;
        if (!pGetDeviceInstanceIdA(set, &dev, id, sizeof id, NULL)) strcpy(id, "?");
        fputs("DEV ", stdout);
        put_hex_str(id);
        if (!pGetDeviceRegistryPropertyA(set, &dev, SPDRP_HARDWAREID, &type, NULL, 0, &need) &&
            GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            buf = (unsigned char *)calloc(need + 1, 1);
            if (buf && pGetDeviceRegistryPropertyA(set, &dev, SPDRP_HARDWAREID, &type, buf,
                                                          need, &need)) {
                fputs(" OK ", stdout);
                put_hex(buf, need);
                put_driver_key(set, &dev);
                free(buf);
                continue;
            }
            free(buf);
        }
        printf(" ERR %lu", (unsigned long)GetLastError());
        put_driver_key(set, &dev);
    }
    pDestroyDeviceInfoList(set);
    return 0;
}

static int cmd_regkey(const char *root, const char *path)
{
    HKEY key;
    char *p = text_arg(path);
    LONG r = RegCreateKeyExA(root_key(root), p, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (r) return fail("RegCreateKeyExA", (DWORD)r);
    RegCloseKey(key);
    fputs("REGKEY ", stdout);
    put_hex_str(p);
    fputs("\n", stdout);
    free(p);
    return 0;
}

static int cmd_regset(const char *root, const char *path, const char *name, const char *type,
                      const char *hex)
{
    HKEY key;
    size_t n = 0;
    char *p = text_arg(path), *v = text_arg(name);
    unsigned char *data = from_hex(hex, &n);
    LONG r;
    if (!data) return fail("hex data", 0);
    r = RegCreateKeyExA(root_key(root), p, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (r) return fail("RegCreateKeyExA", (DWORD)r);
    r = RegSetValueExA(key, strcmp(v, "@") ? v : NULL, 0, strtoul(type, NULL, 0), data, (DWORD)n);
    if (r) return fail("RegSetValueExA", (DWORD)r);
    RegCloseKey(key);
    fputs("REGSET ", stdout);
    put_hex_str(p);
    fputs(" ", stdout);
    put_hex_str(v);
    fputs("\n", stdout);
    free(p);
    free(v);
    free(data);
    return 0;
}

static void dump_key(HKEY parent, const char *path)
{
    HKEY key;
    DWORD nsub = 0, maxsub = 0, nval = 0, maxname = 0, maxdata = 0, i;
    char *sub, *name;
    unsigned char *data;
    LONG r = RegOpenKeyExA(parent, path, 0, KEY_READ, &key);
    if (r) {
        fputs("NOKEY ", stdout);
        put_hex_str(path);
        printf(" %ld\n", (long)r);
        return;
    }
    fputs("KEY ", stdout);
    put_hex_str(path);
    fputs("\n", stdout);
    RegQueryInfoKeyA(key, NULL, NULL, NULL, &nsub, &maxsub, NULL, &nval, &maxname, &maxdata,
                     NULL, NULL);
    name = (char *)calloc(maxname + 2, 1);
    data = (unsigned char *)calloc(maxdata + 2, 1);
    for (i = 0; i < nval && name && data; i++) {
        DWORD nlen = maxname + 1, dlen = maxdata, type = 0;
        if (RegEnumValueA(key, i, name, &nlen, NULL, &type, data, &dlen)) break;
        fputs("VAL ", stdout);
        put_hex_str(path);
        fputs(" ", stdout);
        put_hex_str(name);
        printf(" %lu ", (unsigned long)type);
        put_hex(data, dlen);
        fputs("\n", stdout);
    }
    free(name);
    free(data);
    sub = (char *)calloc(maxsub + 2, 1);
    for (i = 0; i < nsub && sub; i++) {
        DWORD slen = maxsub + 1;
        char child[1024];
        if (RegEnumKeyExA(key, i, sub, &slen, NULL, NULL, NULL, NULL)) break;
        if (strlen(path) + strlen(sub) + 2 > sizeof child) continue;
        if (path[0])
            sprintf(child, "%s\\%s", path, sub);
        else
            strcpy(child, sub);
        dump_key(parent, child);
    }
    free(sub);
    RegCloseKey(key);
}

static int cmd_regdump(const char *root, const char *path)
{
    char *p = text_arg(path);
    printf("ROOT %s\n", root);
    dump_key(root_key(root), p);
    free(p);
    return 0;
}

static int cmd_files(const char *dir)
{
    char pattern[MAX_PATH * 2];
    char *d = text_arg(dir);
    WIN32_FIND_DATAA fd;
    HANDLE h;
    snprintf(pattern, sizeof pattern, "%s\\*", d);
    h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        fputs("NODIR ", stdout);
        put_hex_str(d);
        printf(" %lu\n", (unsigned long)GetLastError());
        free(d);
        return 0;
    }
    fputs("DIR ", stdout);
    put_hex_str(d);
    fputs("\n", stdout);
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
        fputs("FILE ", stdout);
        put_hex_str(fd.cFileName);
        printf(" %lx %lu\n", (unsigned long)fd.dwFileAttributes, (unsigned long)fd.nFileSizeLow);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    free(d);
    return 0;
}

static int cmd_attrib(const char *path, const char *attr)
{
    char *p = text_arg(path);
    if (!SetFileAttributesA(p, strtoul(attr, NULL, 16)))
        return fail("SetFileAttributesA", GetLastError());
    fputs("ATTRIB ", stdout);
    put_hex_str(p);
    fputs("\n", stdout);
    free(p);
    return 0;
}

int CheckLineReader(const char *directory);  /* line_reader_check.cpp */

static int run_command(int argc, char **argv)
{
    const char *c = argv[0];
    if (!strcmp(c, "version") && argc == 1) return cmd_version();
    if (!strcmp(c, "windir") && argc == 1) return cmd_windir();
    if (!strcmp(c, "errtext") && argc == 2) return cmd_errtext(argv[1], "1300");
    if (!strcmp(c, "errtext") && argc == 3) return cmd_errtext(argv[1], argv[2]);
    if (!strcmp(c, "devadd")) return load_setupapi() ? 2 : cmd_devadd(argc - 1, argv + 1);
    if (!strcmp(c, "copyinf") && argc == 2) return load_setupapi() ? 2 : cmd_copyinf(argv[1]);
    if (!strcmp(c, "devlist") && argc == 1) return load_setupapi() ? 2 : cmd_devlist();
    if (!strcmp(c, "loadlib") && argc == 2) return cmd_loadlib(argv[1]);
    if (!strcmp(c, "regkey") && argc == 3 && root_key(argv[1])) return cmd_regkey(argv[1], argv[2]);
    if (!strcmp(c, "regset") && argc == 6 && root_key(argv[1]))
        return cmd_regset(argv[1], argv[2], argv[3], argv[4], argv[5]);
    if (!strcmp(c, "regdump") && argc == 3 && root_key(argv[1])) return cmd_regdump(argv[1], argv[2]);
    if (!strcmp(c, "files") && argc == 2) return cmd_files(argv[1]);
    if (!strcmp(c, "attrib") && argc == 3) return cmd_attrib(argv[1], argv[2]);
    if (!strcmp(c, "linecheck") && argc == 2) return CheckLineReader(argv[1]);
    if (!strcmp(c, "wait") && argc == 1) {
        puts("READY");
        fflush(stdout);
        Sleep(INFINITE);
        return 0;
    }
    fprintf(stderr, "e2etool: bad command: %s\n", c);
    return 2;
}

int main(int argc, char **argv)
{
    int i = 1;
    while (i < argc) {
        int j = i, r;
        while (j < argc && strcmp(argv[j], "+") != 0) j++;
        if (j > i) {
            r = run_command(j - i, argv + i);
            fflush(stdout);
            if (r) return r;
        }
        i = j + 1;
    }
    puts("END");
    return 0;
}
