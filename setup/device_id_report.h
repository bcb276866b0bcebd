#pragma once
// The console text of a Get Device ID answer. Plain byte logic without Win32 calls, so it also
// builds and is tested natively.
#include <stddef.h>
#include <stdint.h>

// The raw line shows at most this many data bytes.
const size_t kDeviceIdShownBytes = 11;
// Room for the raw line and the four decoded lines.
const size_t kDeviceIdReportSize = 256;

// Writes the raw line with the data bytes that came back (at most eleven), then each decoded
// line whose bytes are among them; text is always terminated. Gives the length written.
size_t FormatDeviceIdReport(const uint8_t *data, size_t count, char *text, size_t size);
