#include "option_parser.h"

// Case-insensitive for ASCII letters only; option words are plain ASCII.
static bool SameWord(const char *word, const char *option)
{
    for (;; ++word, ++option) {
        char c = *word;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *option) return false;
        if (c == '\0') return true;
    }
}

// The bit an option word sets, 0 for a word that is not an option.
static uint32_t OptionBit(const char *word)
{
    if (word == nullptr) return 0;
    if (SameWord(word, "-q")) return kOptionQuiet;
    if (SameWord(word, "-n")) return kOptionSilent;
    if (SameWord(word, "-u")) return kOptionUninstall;
    if (SameWord(word, "-h")) return kOptionDetect;
    return 0;
}

uint32_t ParseOptionWords(int argc, const char *const *argv)
{
    uint32_t options = kOptionInstall;
    for (int index = 1; index < argc; ++index) {
        uint32_t bit = OptionBit(argv[index]);
        if (bit == 0) {
            options |= kOptionUsage;
            break;
        }
        if (bit == kOptionUninstall) options &= ~kOptionInstall;
        if ((options & bit) != 0) options |= kOptionUsage;
        options |= bit;
    }
    if (options & (kOptionDetect | kOptionUninstall)) options &= ~kOptionInstall;
    if ((options & kOptionQuiet) && (options & kOptionSilent)) options &= ~kOptionQuiet;
    if ((options & kOptionUninstall) && (options & kOptionDetect)) options = kOptionUsage;
    return options;
}
