// The walk over a device property's list of strings, on buffers of exactly the reported size, so the
// sanitizer catches any read past it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "multi_string.h"

// The bytes in a heap block of exactly their size.
static std::unique_ptr<char[]> Exact(const std::string &bytes)
{
    std::unique_ptr<char[]> block(new char[bytes.size() ? bytes.size() : 1]);
    memcpy(block.get(), bytes.data(), bytes.size());
    return block;
}

static std::vector<std::string> Walk(const std::string &bytes, size_t size)
{
    std::unique_ptr<char[]> data = Exact(bytes.substr(0, size));
    std::vector<std::string> entries;
    size_t position = 0;
    MultiStringEntry entry;
    while (NextMultiStringEntry(data.get(), size, &position, &entry)) entries.emplace_back(entry.text, entry.length);
    return entries;
}

static std::string Bytes(const char *text, size_t size) { return std::string(text, size); }

TEST(MultiStringWalk, EntriesUpToTheEmptyOne)
{
    EXPECT_EQ((std::vector<std::string>{"ACPI\\ZYN7310", "*ZYN7310"}),
              Walk(Bytes("ACPI\\ZYN7310\0*ZYN7310\0\0", 23), 23));
    EXPECT_EQ((std::vector<std::string>{"A"}), Walk(Bytes("A\0\0B\0\0", 6), 6)) << "nothing after the empty entry";
    EXPECT_EQ(std::vector<std::string>(), Walk(Bytes("\0A\0\0", 4), 4));
}

TEST(MultiStringWalk, NeverPastTheReportedSize)
{
    // Without the closing zeros, and ending inside an entry.
    EXPECT_EQ((std::vector<std::string>{"A", "BC"}), Walk(Bytes("A\0BC", 4), 4));
    EXPECT_EQ((std::vector<std::string>{"A"}), Walk(Bytes("A\0", 2), 2));
    EXPECT_EQ((std::vector<std::string>{"AB"}), Walk(Bytes("ABC\0\0", 5), 2));
    EXPECT_EQ(std::vector<std::string>(), Walk("", 0));
    size_t position = 0;
    MultiStringEntry entry;
    EXPECT_FALSE(NextMultiStringEntry(nullptr, 0, &position, &entry));
}

static MultiStringEntry Entry(const char *text, size_t length) { return MultiStringEntry{text, length}; }

TEST(MultiStringCompare, ExactComparisonIsWholeAndCaseSensitive)
{
    std::unique_ptr<char[]> data = Exact("*ZYN7310");
    EXPECT_TRUE(EntryEquals(Entry(data.get(), 8), "*ZYN7310"));
    EXPECT_FALSE(EntryEquals(Entry(data.get(), 8), "*zyn7310"));
    EXPECT_FALSE(EntryEquals(Entry(data.get(), 8), "*ZYN731"));
    EXPECT_FALSE(EntryEquals(Entry(data.get(), 7), "*ZYN7310"));
    EXPECT_FALSE(EntryEquals(Entry(data.get(), 8), ""));
}

static bool NoLeadBytes(unsigned char) { return false; }
// A double-byte code page whose lead bytes are 0x81-0x9F, as in Shift-JIS.
static bool ShiftJisLead(unsigned char byte) { return byte >= 0x81 && byte <= 0x9F; }

TEST(MultiStringCompare, CaseIsIgnoredForLettersOnly)
{
    std::unique_ptr<char[]> data = Exact("*zyn7310");
    EXPECT_TRUE(EntryEqualsIgnoringCase(Entry(data.get(), 8), "*ZYN7310", NoLeadBytes));
    EXPECT_FALSE(EntryEqualsIgnoringCase(Entry(data.get(), 8), "*ZYN731", NoLeadBytes));
    EXPECT_FALSE(EntryEqualsIgnoringCase(Entry(data.get(), 7), "*ZYN7310", NoLeadBytes));
    EXPECT_FALSE(EntryEqualsIgnoringCase(Entry(data.get(), 8), "*ZYN73100", NoLeadBytes));
    std::unique_ptr<char[]> symbols = Exact("@[`{");
    EXPECT_FALSE(EntryEqualsIgnoringCase(Entry(symbols.get(), 1), "`", NoLeadBytes)) << "'@' is no letter";
    EXPECT_FALSE(EntryEqualsIgnoringCase(Entry(symbols.get() + 1, 1), "{", NoLeadBytes));
}

TEST(MultiStringCompare, DoubleByteCharacterIsOneUnit)
{
    // 0x81 0x61 and 0x81 0x41 are two different characters; folding the trail byte would equate them.
    std::unique_ptr<char[]> data = Exact("\x81" "a*");
    EXPECT_FALSE(EntryEqualsIgnoringCase(Entry(data.get(), 3), "\x81" "A*", ShiftJisLead));
    EXPECT_TRUE(EntryEqualsIgnoringCase(Entry(data.get(), 3), "\x81" "a*", ShiftJisLead));
    EXPECT_TRUE(EntryEqualsIgnoringCase(Entry(data.get(), 3), "\x81" "A*", NoLeadBytes)) << "single-byte code page";
    // A lead byte that ends the entry has no trail byte to read.
    EXPECT_TRUE(EntryEqualsIgnoringCase(Entry(data.get(), 1), "\x81", ShiftJisLead));
    EXPECT_FALSE(EntryEqualsIgnoringCase(Entry(data.get(), 1), "\x81" "a", ShiftJisLead));
}
