#pragma once
// What every fuzz target shares: reading numbers and bytes off the input, argument vectors whose
// strings and array are allocated at exactly their sizes (so the sanitizer sees any read past
// them), and a check that ends the run as a crash.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            abort();                                                                            \
        }                                                                                       \
    } while (0)

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return size_ > 0 ? (--size_, *data_++) : 0; }

    uint32_t Word()
    {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(Byte()) << (8 * i);
        return word;
    }

    // Fills count bytes, zeros once the input is used up.
    void Fill(uint8_t *destination, size_t count)
    {
        for (size_t i = 0; i < count; ++i) destination[i] = Byte();
    }

    const uint8_t *Rest() const { return data_; }
    size_t Remaining() const { return size_; }

private:
    const uint8_t *data_;
    size_t size_;
};

// The input split at zero bytes into argv[0] .. argv[argc - 1], as a program receives its words.
class FuzzArguments {
public:
    FuzzArguments(const uint8_t *data, size_t size)
    {
        size_t start = 0;
        for (size_t i = 0; i <= size; ++i) {
            if (i < size && data[i] != 0) continue;
            char *word = static_cast<char *>(malloc(i - start + 1));
            memcpy(word, data + start, i - start);
            word[i - start] = '\0';
            words_.push_back(word);
            start = i + 1;
        }
        argv_ = static_cast<const char **>(malloc(words_.size() * sizeof(char *)));
        for (size_t i = 0; i < words_.size(); ++i) argv_[i] = words_[i];
    }
    ~FuzzArguments()
    {
        for (char *word : words_) free(word);
        free(argv_);
    }
    FuzzArguments(const FuzzArguments &) = delete;
    FuzzArguments &operator=(const FuzzArguments &) = delete;

    int Count() const { return static_cast<int>(words_.size()); }
    const char *const *Vector() const { return argv_; }

    // True when some argument from the second on equals word, letters compared without case.
    bool Has(const char *word) const
    {
        for (size_t i = 1; i < words_.size(); ++i) {
            if (strcasecmp(words_[i], word) == 0) return true;
        }
        return false;
    }

private:
    std::vector<char *> words_;
    const char **argv_;
};
