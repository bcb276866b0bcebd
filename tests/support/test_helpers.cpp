#include "test_helpers.h"

#include <cstdio>

std::string HexBytes(const uint8_t *bytes, size_t count)
{
    std::string text;
    char piece[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(piece, sizeof(piece), i == 0 ? "%02X" : " %02X", bytes[i]);
        text += piece;
    }
    return text;
}
