// The Get Device ID report for any answer and any text buffer: always terminated inside the
// buffer, its length as reported, and the raw line first.
#include "device_id_report.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzInput in(bytes, size);
    size_t textSize = in.Byte() * 2;  // 0 to 510, around the 256 the installer uses
    bool noData = in.Byte() == 0xFF;
    size_t count = in.Remaining();
    uint8_t *data = static_cast<uint8_t *>(malloc(count == 0 ? 1 : count));
    memcpy(data, in.Rest(), count);
    char *text = static_cast<char *>(malloc(textSize == 0 ? 1 : textSize));
    size_t length = FormatDeviceIdReport(noData ? nullptr : data, count, textSize == 0 ? nullptr : text, textSize);
    if (textSize == 0) {
        FUZZ_CHECK(length == 0);
    } else {
        FUZZ_CHECK(length < textSize && text[length] == '\0' && strlen(text) == length);
        const char raw[] = "Get DeviceID Raw data:\t";
        FUZZ_CHECK(strncmp(text, raw, length < sizeof(raw) - 1 ? length : sizeof(raw) - 1) == 0);
    }
    free(text);
    free(data);
    return 0;
}
