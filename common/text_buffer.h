#pragma once
// Text written piece by piece into a fixed buffer: a piece that does not fit ends the writing for
// good, so a text is either whole or known to be cut. Plain logic, built natively too.
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

struct TextBuffer {
    char *text;
    size_t size;
    size_t used;
    bool fits;  // false, for good, once a piece found no room
};

inline void AppendText(TextBuffer *out, const char *format, ...) __attribute__((format(printf, 2, 3)));

inline void AppendText(TextBuffer *out, const char *format, ...)
{
    if (!out->fits) return;
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(out->text + out->used, out->size - out->used, format, arguments);
    va_end(arguments);
    if (written < 0 || static_cast<size_t>(written) >= out->size - out->used) {
        out->fits = false;
        out->text[out->used] = '\0';
        return;
    }
    out->used += static_cast<size_t>(written);
}
