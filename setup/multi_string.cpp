#include "multi_string.h"

#include <string.h>

bool NextMultiStringEntry(const char *data, size_t size, size_t *position, MultiStringEntry *entry)
{
    if (data == nullptr || *position >= size || data[*position] == '\0') return false;
    const char *start = data + *position;
    size_t left = size - *position;
    const void *terminator = memchr(start, '\0', left);
    size_t length = terminator ? static_cast<size_t>(static_cast<const char *>(terminator) - start) : left;
    entry->text = start;
    entry->length = length;
    *position += terminator ? length + 1 : length;
    return true;
}

bool EntryEquals(const MultiStringEntry &entry, const char *text)
{
    return strlen(text) == entry.length && memcmp(entry.text, text, entry.length) == 0;
}

static unsigned char FoldLetter(unsigned char byte)
{
    return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

bool EntryEqualsIgnoringCase(const MultiStringEntry &entry, const char *text, LeadBytePredicate isLeadByte)
{
    const unsigned char *left = reinterpret_cast<const unsigned char *>(entry.text);
    const unsigned char *right = reinterpret_cast<const unsigned char *>(text);
    size_t i = 0;
    while (i < entry.length) {
        if (right[i] == '\0') return false;
        if (isLeadByte(left[i]) && i + 1 < entry.length) {
            // right[i] equals a non-zero byte here, so right[i + 1] is still inside the text.
            if (left[i] != right[i] || left[i + 1] != right[i + 1]) return false;
            i += 2;
            continue;
        }
        if (FoldLetter(left[i]) != FoldLetter(right[i])) return false;
        ++i;
    }
    return right[i] == '\0';
}
