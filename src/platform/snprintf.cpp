// snprintf for both builds, on the C99 contract: at most size - 1 bytes and a NUL are
// written, and the result is the length of the whole text. MinGW-w64's own snprintf is
// prebuilt Pentium Pro code, and msvcrt's _snprintf neither terminates a cut text nor tells
// its length, so the program formats its few texts itself. It knows the conversions the
// program uses: %s, %d and %x, with an optional 0 flag and width, and %%; any other is
// refused with -1 and no text.
#include <cstdarg>
#include <climits>

#include "platform/win.h"

namespace {

struct Output {
    char* buffer;
    std::size_t size;
    std::size_t length;  // of the whole text, whether it fits or not
};

void Put(Output& out, char byte) {
    if (out.length + 1 < out.size) out.buffer[out.length] = byte;
    ++out.length;
}

void PutPadded(Output& out, const char* text, std::size_t textLength, std::size_t width,
               char pad) {
    for (std::size_t i = textLength; i < width; ++i) Put(out, pad);
    for (std::size_t i = 0; i < textLength; ++i) Put(out, text[i]);
}

// Digits of value in the given base, into the end of digits; returns where they start.
char* Digits(unsigned value, unsigned base, char* end) {
    char* at = end;
    do {
        *--at = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    return at;
}

}  // namespace

namespace Win {

int snprintf(char* buffer, std::size_t size, const char* format, ...) {
    Output out = {buffer, size, 0};
    std::va_list arguments;
    va_start(arguments, format);
    bool refused = false;
    for (const char* at = format; !refused && *at != '\0'; ++at) {
        if (*at != '%') {
            Put(out, *at);
            continue;
        }
        ++at;
        if (*at == '%') {
            Put(out, '%');
            continue;
        }
        const bool zeroPad = *at == '0';
        if (zeroPad) ++at;
        std::size_t width = 0;
        while (*at >= '0' && *at <= '9' && width < 1000) width = width * 10 + (*at++ - '0');
        char digits[16];
        char* const end = digits + sizeof digits;
        switch (*at) {
            case 's': {
                const char* text = va_arg(arguments, const char*);
                std::size_t textLength = 0;
                while (text[textLength] != '\0') ++textLength;
                PutPadded(out, text, textLength, width, ' ');
                break;
            }
            case 'd': {
                const int value = va_arg(arguments, int);
                const unsigned magnitude =
                    value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
                char* start = Digits(magnitude, 10, end);
                if (value < 0 && zeroPad) {
                    Put(out, '-');
                    PutPadded(out, start, end - start, width > 0 ? width - 1 : 0, '0');
                } else {
                    if (value < 0) *--start = '-';
                    PutPadded(out, start, end - start, width, zeroPad ? '0' : ' ');
                }
                break;
            }
            case 'x': {
                const char* start = Digits(va_arg(arguments, unsigned), 16, end);
                PutPadded(out, start, end - start, width, zeroPad ? '0' : ' ');
                break;
            }
            default:
                refused = true;
        }
    }
    va_end(arguments);
    if (refused || out.length > INT_MAX) {
        if (size > 0) buffer[0] = '\0';
        return -1;
    }
    if (size > 0) buffer[out.length < size ? out.length : size - 1] = '\0';
    return static_cast<int>(out.length);
}

}  // namespace Win
