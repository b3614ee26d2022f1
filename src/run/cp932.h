// Code page 932 (Shift_JIS) byte classes.
#ifndef KALVOR_RUN_CP932_H
#define KALVOR_RUN_CP932_H

// The first byte of a double-byte character. Its second byte may be any of 0x40 to 0xFC,
// a backslash (0x5C) and ASCII letters included.
inline bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

#endif
