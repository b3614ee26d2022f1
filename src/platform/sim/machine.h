// The simulated machine's state, shared by the parts of the simulation (see sim.h):
// machine.cpp holds the state, fault injection, version and local heap; console.cpp the
// console, boxes and system texts; setup_api.cpp the devices; registry.cpp the registry;
// files.cpp the files and streams.
#ifndef KALVOR_PLATFORM_SIM_MACHINE_H
#define KALVOR_PLATFORM_SIM_MACHINE_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace Simulated {

using Win::BOOL;
using Win::DWORD;
using Win::LONG;

// Ends the process with a message: the program asked for something the simulation does
// not model.
[[noreturn]] void Unmodelled(const char* format, ...);

// ASCII letters in upper case, as Windows compares names.
std::string Fold(const std::string& text);

struct Fault {
    Sim::Op op;
    DWORD code;
    std::string target;  // folded; empty for any
    int times;           // < 0 for always
    int after;           // matching calls still to let through
};

struct Value {
    std::string name;
    DWORD type;
    std::string bytes;
};

struct Key {
    std::string name;
    std::map<std::string, std::shared_ptr<Key>> subkeys;  // by folded name
    std::map<std::string, Value> values;                  // by folded name
    Key* parent = nullptr;
    bool deleted = false;
};

struct OpenKey {
    std::shared_ptr<Key> key;
};

struct File {
    std::string path;
    std::string bytes;
    DWORD attributes;
};

struct Stream {
    std::string path;  // folded
    std::string bytes;
    std::size_t position = 0;
    bool eof = false;
    bool error = false;
};

struct Device {
    bool hasIds;
    std::string ids;
    bool present;
    bool removed = false;
};

// What a device record filled by SetupDiEnumDeviceInfo stands for.
struct DeviceRecord {
    std::uintptr_t set;
    int member;
};

struct Machine {
    DWORD platformId = Win::VER_PLATFORM_WIN32_NT;
    DWORD lastError = 0;
    std::vector<Fault> faults;
    std::vector<std::string> calls;

    std::string console;
    std::vector<int> keys;
    std::function<void(int)> exitHook;
    std::vector<Sim::MessageBoxRecord> boxes;
    std::function<void(const Sim::MessageBoxRecord&)> boxHook;
    std::map<DWORD, std::string> texts;

    std::shared_ptr<Key> root = std::make_shared<Key>();
    std::map<std::uintptr_t, OpenKey> openKeys;
    std::vector<std::shared_ptr<Key>> deletedKeys;  // kept so open handles and paths stay valid

    std::string windowsDirectory = "C:\\WINDOWS";
    std::map<std::string, File> files;  // by folded path
    std::map<std::uintptr_t, std::string> searches;
    std::map<std::uintptr_t, std::unique_ptr<Stream>> streams;

    std::vector<Device> devices;
    std::map<std::uintptr_t, std::vector<int>> deviceSets;
    std::map<std::uintptr_t, DeviceRecord> deviceRecords;  // by the mark in Reserved

    std::set<void*> localBlocks;
    std::uintptr_t nextHandle = 0x1000;
};

Machine& M();

// Records the call for Sim::Calls.
void Log(const char* name, const std::string& target = std::string());

// The code an injected fault fails this call with, or 0 when it goes ahead.
DWORD Injected(Sim::Op op, const std::string& target = std::string());

std::uintptr_t NewHandle();

// A successful call may leave any last-error value; real Setup API calls often do (under
// Wine a successful DIF_REMOVE leaves ERROR_SERVICE_NOT_ACTIVE). The simulated ones leave
// a nonzero value no caller checks for, so code that reads GetLastError after a success
// reads junk here as it may on Windows.
const DWORD JunkAfterSuccess = 1062;

template <typename Result>
Result Succeeded(Result result) {
    M().lastError = JunkAfterSuccess;
    return result;
}

// A zero-filled block of the local heap, counted until LocalFree releases it.
void* NewLocalBlock(std::size_t bytes);

// The system texts of a fresh machine.
void SetDefaultTexts(Machine& m);

}  // namespace Simulated

#endif
