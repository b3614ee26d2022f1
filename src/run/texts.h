// The program's fixed texts and targets, as code page 932 byte strings.
#ifndef KALVOR_RUN_TEXTS_H
#define KALVOR_RUN_TEXTS_H

// The adapter's two Plug and Play hardware IDs; the first is always handled first.
extern const char FirstHardwareId[];
extern const char SecondHardwareId[];
// The comment line that only the adapter's Windows 2000/XP INF carries.
extern const char InfSignatureLine[];
// Names under which Windows 98/ME keeps the INF copies in inf\other.
extern const char InfCopyName9xMe[];
extern const char InfCopyName2kXp[];

extern const char StartLineText[];
extern const char EndLineText[];
extern const char* const HelpLines[4];
extern const char DeviceInfoRemovedText[];
extern const char DeviceInfoNotFoundText[];
extern const char BoxCaption[];

#endif
