// The run control and the removal operations it calls.
//
// Each removal operation takes one NUL-terminated code page 932 string and returns 0 or 1
// (when, each says); the removal sequence does not look at it. Each reports its own
// failures through ReportFailure at the moment they happen and returns normally: no
// failure ends the run.
#ifndef KALVOR_RUN_REMOVAL_H
#define KALVOR_RUN_REMOVAL_H

// Set when any device information has been removed; chooses the result box's text.
extern bool DeviceInfoRemoved;

// Failure boxes shown so far; the run's exit status tells whether there were any.
extern int FailuresReported;

// Shows "<label> FAILURE: (0x<code>)<system text>\n" for the thread's last-error value in a
// message box, waits for OK, and leaves the last-error value as it found it. Returns 0.
int ReportFailure(const char* label);

// Returns only when no argument asks for the help; the help ends the process.
void ParseCommandLine(int argc, char** argv);
[[noreturn]] void ShowHelpAndExit();

// The whole removal run, from the start line to the end line. Returns the exit status:
// 0 when no failure was reported, 1 when at least one was.
int RunRemoval();

// Windows 2000/XP: removes every device record, present or not, whose hardware-ID list holds
// hardwareId. Returns 1 when the device list cannot be built.
int RemoveDevicesByHardwareId(const char* hardwareId);

// Windows 98/ME: deletes ENUM\<hardwareId> and the driver key its instance "0" names.
// Returns 1 when the ENUM key cannot be opened.
int RemoveEnumRegistryEntry(const char* hardwareId);

// Windows 2000/XP: deletes the lowest-numbered oemN.inf (N from 0 to 254) holding a line
// that begins with signature, and its oemN.pnf. Returns 1 when none matched.
int RemoveOemInfBySignature(const char* signature);

// Windows 98/ME: deletes inf\other\<copyName>. Returns 1 when the file does not exist.
int RemoveCopiedInf(const char* copyName);

#endif
