// The walk over a device property's list of strings as the system may report it, terminated or
// not: every entry lies inside the reported size, the walk always ends, and the comparisons
// agree with each other.
#include "fuzz_input.h"
#include "multi_string.h"

// Lead bytes of a double-byte code page (Shift-JIS ranges).
static bool IsLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzInput in(bytes, size);
    size_t textLength = in.Byte() % 16;
    char text[17] = {};
    in.Fill(reinterpret_cast<uint8_t *>(text), textLength);
    size_t dataSize = in.Remaining();
    char *data = static_cast<char *>(malloc(dataSize == 0 ? 1 : dataSize));
    memcpy(data, in.Rest(), dataSize);
    size_t position = 0, entries = 0;
    MultiStringEntry entry;
    while (NextMultiStringEntry(data, dataSize, &position, &entry)) {
        FUZZ_CHECK(entry.text >= data && entry.length > 0 && entry.text + entry.length <= data + dataSize);
        FUZZ_CHECK(memchr(entry.text, '\0', entry.length) == nullptr);
        FUZZ_CHECK(position <= dataSize && position == static_cast<size_t>(entry.text - data) + entry.length +
                                               (entry.text + entry.length < data + dataSize ? 1 : 0));
        FUZZ_CHECK(++entries <= dataSize);
        bool exact = EntryEquals(entry, text);
        FUZZ_CHECK(exact == (strlen(text) == entry.length && memcmp(entry.text, text, entry.length) == 0));
        FUZZ_CHECK(!exact || EntryEqualsIgnoringCase(entry, text, IsLeadByte));
    }
    FUZZ_CHECK(!NextMultiStringEntry(nullptr, dataSize, &position, &entry));
    free(data);
    return 0;
}
