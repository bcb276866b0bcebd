// The crash-control option: changed only when it is a DWORD that exists; the question's texts.
#include "service_fixture.h"
#include "setup_test_support.h"

static const char kCrashControlKey[] = "System\\CurrentControlSet\\Control\\CrashControl";

// Keeps the crash-control key as it was found: its AutoReboot value, or its absence.
class AutoReboot : public ::testing::Test {
protected:
    void SetUp() override
    {
        keyExisted_ = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCrashControlKey, 0, KEY_READ, &key_) == ERROR_SUCCESS;
        if (keyExisted_) {
            savedSize_ = sizeof(saved_);
            valueExisted_ =
                RegQueryValueExA(key_, "AutoReboot", nullptr, &savedType_, saved_, &savedSize_) == ERROR_SUCCESS;
            RegCloseKey(key_);
        }
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCrashControlKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key_, nullptr));
        RegDeleteValueA(key_, "AutoReboot");
    }

    void TearDown() override
    {
        RegDeleteValueA(key_, "AutoReboot");
        if (valueExisted_) RegSetValueExA(key_, "AutoReboot", 0, savedType_, saved_, savedSize_);
        RegCloseKey(key_);
        if (!keyExisted_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCrashControlKey);
    }

    void Store(DWORD type, const void *data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "AutoReboot", 0, type, static_cast<const BYTE *>(data), size));
    }

    void StoreDword(DWORD value) { Store(REG_DWORD, &value, sizeof(value)); }

    // The value as it stands: its type and bytes, or "absent".
    std::string Stored()
    {
        BYTE data[64];
        DWORD type = 0, size = sizeof(data);
        if (RegQueryValueExA(key_, "AutoReboot", nullptr, &type, data, &size) != ERROR_SUCCESS) return "absent";
        return "type=" + std::to_string(type) + " " + HexBytes(data, size);
    }

    HKEY key_ = nullptr;

private:
    bool keyExisted_ = false;
    bool valueExisted_ = false;
    DWORD savedType_ = 0;
    DWORD savedSize_ = 0;
    BYTE saved_[64];
};

TEST_F(AutoReboot, OnlyAnExistingFourByteDwordIsWritten)
{
    StoreDword(2);
    EXPECT_EQ(1, SetAutoReboot(true));
    EXPECT_EQ("type=4 01 00 00 00", Stored());
    EXPECT_EQ(1, SetAutoReboot(false));
    EXPECT_EQ("type=4 00 00 00 00", Stored());

    RegDeleteValueA(key_, "AutoReboot");
    EXPECT_RESULT_WITH_SENTINEL(0, SetAutoReboot(true));
    EXPECT_EQ("absent", Stored()) << "never created";

    const BYTE four[] = {1, 0, 0, 0};
    const BYTE eight[] = {1, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        DWORD type;
        const void *data;
        DWORD size;
    } others[] = {
        {REG_SZ, "1", 2}, {REG_BINARY, four, 4}, {REG_DWORD_BIG_ENDIAN, four, 4}, {REG_QWORD, eight, 8},
        {REG_DWORD, four, 2},
    };
    for (const Case &c : others) {
        Store(c.type, c.data, c.size);
        std::string before = Stored();
        EXPECT_RESULT_WITH_SENTINEL(0, SetAutoReboot(false)) << before;
        EXPECT_EQ(before, Stored()) << "left alone";
    }
}

TEST_F(AutoReboot, TheQuestionShowsTheCurrentState)
{
    const std::string question = "Would you like to change AutoReboot option under \n"
                                 "  Windows [Startup and Recovery] panel?\n";
    const std::string prompt = "<E>nable/<D>isable/<N>o: ";
    NoConsoleInput noInput;  // the key read ends at once, like a key that changes nothing

    StoreDword(1);
    EXPECT_EQ(question + "Current state: Enable\n" + prompt, Printed(AskAutoReboot));
    StoreDword(2);
    EXPECT_EQ(question + "Current state: Disable\n" + prompt, Printed(AskAutoReboot));
    StoreDword(0);
    EXPECT_EQ(question + "Current state: Disable\n" + prompt, Printed(AskAutoReboot));
    EXPECT_EQ("type=4 00 00 00 00", Stored());
    Store(REG_SZ, "1", 2);
    EXPECT_EQ(question + "Current state: Unknown\n" + prompt, Printed(AskAutoReboot));
    RegDeleteValueA(key_, "AutoReboot");
    EXPECT_EQ(question + "Current state: Unknown\n" + prompt, Printed(AskAutoReboot));
    EXPECT_EQ("absent", Stored());
}
