#include "test_device_nodes.h"

#include <cfgmgr32.h>
#include <string.h>

#include <gtest/gtest.h>

#include "guards.h"

// Class System, the class of the package's INF.
static const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string IdList(std::initializer_list<const char *> entries)
{
    std::string list;
    for (const char *entry : entries) {
        list += entry;
        list += '\0';
    }
    list += '\0';
    return list;
}

TestNodes::~TestNodes()
{
    for (const std::string &node : created_) RemoveNode(node);
}

std::string TestNodes::AddRootNode(const std::string &idList)
{
    return Register("System", DICD_GENERATE_ID, idList);
}

std::string TestNodes::AddNode(const char *instanceId, const std::string &idList)
{
    return Register(instanceId, 0, idList);
}

std::string TestNodes::Register(const char *name, DWORD flags, const std::string &idList)
{
    UniqueDeviceInfoSet set(SetupDiCreateDeviceInfoList(&kSystemClass, nullptr));
    if (!set.Valid()) return "";
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoA(set.Get(), name, &kSystemClass, nullptr, nullptr, flags, &device)) return "";
    if (!idList.empty() &&
        !SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE *>(idList.data()),
                                           static_cast<DWORD>(idList.size()))) {
        return "";
    }
    if (!SetupDiRegisterDeviceInfo(set.Get(), &device, 0, nullptr, nullptr, nullptr)) return "";
    char instance[MAX_DEVICE_ID_LEN] = "";
    if (!SetupDiGetDeviceInstanceIdA(set.Get(), &device, instance, sizeof(instance), nullptr)) return "";
    created_.push_back(instance);
    return instance;
}

// Calls visit(set, device, instance) for each present node until it returns true.
template <typename Visit>
static void ForEachPresentNode(Visit visit)
{
    UniqueDeviceInfoSet set(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set.Valid()) {
        DWORD error = GetLastError();
        ADD_FAILURE() << "SetupDiGetClassDevsA for the present nodes failed: error " << error;
        return;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.Get(), index, &device); ++index) {
        char instance[MAX_DEVICE_ID_LEN] = "";
        SetupDiGetDeviceInstanceIdA(set.Get(), &device, instance, sizeof(instance), nullptr);
        if (visit(set.Get(), &device, std::string(instance))) return;
    }
}

static std::string ReadIds(HDEVINFO set, SP_DEVINFO_DATA *device, bool *present)
{
    char buffer[4096];
    DWORD size = 0;
    *present = SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                                 reinterpret_cast<BYTE *>(buffer), sizeof(buffer), &size) != FALSE;
    return *present ? std::string(buffer, size) : std::string();
}

std::vector<std::string> PresentNodesCarrying(const char *hardwareId)
{
    std::vector<std::string> nodes;
    ForEachPresentNode([&](HDEVINFO set, SP_DEVINFO_DATA *device, const std::string &instance) {
        bool present;
        std::string ids = ReadIds(set, device, &present);
        for (size_t at = 0; at < ids.size() && ids[at] != '\0'; at += strlen(ids.c_str() + at) + 1) {
            if (_stricmp(ids.c_str() + at, hardwareId) == 0) {
                nodes.push_back(instance);
                break;
            }
        }
        return false;
    });
    return nodes;
}

bool NodePresent(const std::string &instanceId)
{
    bool found = false;
    ForEachPresentNode([&](HDEVINFO, SP_DEVINFO_DATA *, const std::string &instance) {
        found = _stricmp(instance.c_str(), instanceId.c_str()) == 0;
        return found;
    });
    return found;
}

std::string HardwareIdProperty(const std::string &instanceId)
{
    std::string property = "(none)";
    ForEachPresentNode([&](HDEVINFO set, SP_DEVINFO_DATA *device, const std::string &instance) {
        if (_stricmp(instance.c_str(), instanceId.c_str()) != 0) return false;
        bool present;
        std::string ids = ReadIds(set, device, &present);
        if (present) property = ids;
        return true;
    });
    return property;
}

bool RemoveNode(const std::string &instanceId)
{
    UniqueDeviceInfoSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set.Valid()) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!SetupDiOpenDeviceInfoA(set.Get(), instanceId.c_str(), nullptr, 0, &device)) return false;
    return SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device) != FALSE;
}

bool KeyExists(const char *subkey)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

static bool CreateKeyWithValue(const std::string &subkey)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    UniqueRegistryKey guard(key);
    DWORD value = 1;
    return RegSetValueExA(key, "Level", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

bool CreateKeyTree(const char *subkey)
{
    bool created = CreateKeyWithValue(subkey);
    for (const char *child : {"\\First", "\\Second", "\\Third"}) {
        std::string middle = std::string(subkey) + child;
        created = created && CreateKeyWithValue(middle) && CreateKeyWithValue(middle + "\\Inner") &&
                  CreateKeyWithValue(middle + "\\Inner\\Deepest") && CreateKeyWithValue(middle + "\\Other");
    }
    return created;
}

int CountSubkeys(const char *subkey)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    UniqueRegistryKey guard(key);
    DWORD count = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS) {
        return -1;
    }
    return static_cast<int>(count);
}

std::string JoinLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) {
        text += "  " + line;
        if (line.empty() || line.back() != '\n') text += "\n";
    }
    return text;
}

HDEVINFO WINAPI RefuseDeviceSet(const GUID *, PCSTR, HWND, DWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FailPropertyRead(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD)
{
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}
