#include "device_id_report.h"

#include <stdarg.h>
#include <stdio.h>

struct ReportText {
    char *text;
    size_t size;
    size_t length;
};

// Appends formatted text; what does not fit is cut, and the text stays terminated.
static void Append(ReportText *report, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void Append(ReportText *report, const char *format, ...)
{
    if (report->length + 1 >= report->size) return;
    size_t room = report->size - report->length;
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(report->text + report->length, room, format, arguments);
    va_end(arguments);
    if (written < 0) {
        report->text[report->length] = '\0';
        return;
    }
    size_t added = static_cast<size_t>(written);
    report->length += added < room ? added : room - 1;
}

size_t FormatDeviceIdReport(const uint8_t *data, size_t count, char *text, size_t size)
{
    if (text == nullptr || size == 0) return 0;
    if (data == nullptr) count = 0;
    ReportText report = {text, size, 0};
    text[0] = '\0';

    Append(&report, "Get DeviceID Raw data:\t");
    for (size_t i = 0; i < count && i < kDeviceIdShownBytes; ++i) Append(&report, "%02x ", data[i]);
    Append(&report, "\n");

    // Device revision in bits 3-0, the device-SDR flag in bit 7.
    if (count > 1) Append(&report, " Hardware revision: \t%x.%x \n", data[1] & 0x0F, data[1] >> 4);
    // Major firmware revision without its update-in-progress bit, then the minor in BCD.
    if (count > 3) Append(&report, " Firmware revision: \t%x.%x \n", data[2] & 0x7F, data[3]);
    // Major version in bits 3-0, minor in bits 7-4: 0x51 is 1.5.
    if (count > 4) Append(&report, " IPMI version: \t\t%x.%x \n", data[4] & 0x0F, data[4] >> 4);
    if (count > 8) {
        unsigned long manufacturer = data[6] + 256ul * data[7] + 65536ul * data[8];
        Append(&report, " ManufacturerID: \t%lu \n", manufacturer);
    }
    return report.length;
}
