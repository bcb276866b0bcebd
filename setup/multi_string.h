#pragma once
// Walking a list of strings as a device property holds it (entries ended by a zero byte, the list
// by an empty entry) without ever reading past the size the system reported.
#include <stddef.h>

struct MultiStringEntry {
    const char *text;  // not terminated when the data ends inside the entry
    size_t length;
};

// The entry at *position and the position after it; false at an empty entry or the end of the data.
bool NextMultiStringEntry(const char *data, size_t size, size_t *position, MultiStringEntry *entry);

// Byte for byte, so a double-byte character can only equal itself.
bool EntryEquals(const MultiStringEntry &entry, const char *text);

// Letters A-Z compare without regard to case; a lead byte and its trail byte compare exactly, as one
// character, so a trail byte that looks like a letter is never folded.
typedef bool (*LeadBytePredicate)(unsigned char byte);
bool EntryEqualsIgnoringCase(const MultiStringEntry &entry, const char *text, LeadBytePredicate isLeadByte);
