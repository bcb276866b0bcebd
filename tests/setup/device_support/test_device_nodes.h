#pragma once
// Device nodes made by tests with SetupAPI, and what the tests look up about nodes.
#include <windows.h>
#include <setupapi.h>

#include <initializer_list>
#include <string>
#include <vector>

// A hardware-identifier list as the property stores it: each entry and its zero, then one more zero.
std::string IdList(std::initializer_list<const char *> entries);

// Nodes registered in class System; each is removed again (DIF_REMOVE) when the object goes.
class TestNodes {
public:
    TestNodes() = default;
    ~TestNodes();
    TestNodes(const TestNodes &) = delete;
    TestNodes &operator=(const TestNodes &) = delete;

    // A root-enumerated node with a generated instance; an empty list leaves the property unset.
    // Returns the instance identifier, empty on failure.
    std::string AddRootNode(const std::string &idList);
    // A node with the given instance identifier, such as "ACPI\ZYN7310\0".
    std::string AddNode(const char *instanceId, const std::string &idList);
    void Forget() { created_.clear(); }

private:
    std::string Register(const char *name, DWORD flags, const std::string &idList);
    std::vector<std::string> created_;
};

// Present nodes (as FindInExistDevice sees them) that carry the identifier, in any letter case.
std::vector<std::string> PresentNodesCarrying(const char *hardwareId);
bool NodePresent(const std::string &instanceId);
// The node's hardware-identifier property as stored, or "(none)".
std::string HardwareIdProperty(const std::string &instanceId);
// DIF_REMOVE for the node; true when it went.
bool RemoveNode(const std::string &instanceId);

// Registry helpers under HKEY_LOCAL_MACHINE.
bool KeyExists(const char *subkey);
// Creates the key with three subkeys, each with two subkeys of its own and a value on every level.
bool CreateKeyTree(const char *subkey);
int CountSubkeys(const char *subkey);

// Stand-ins for SetupAPI calls, put in place with an ImportHook: the device set cannot be made
// (ERROR_NOT_ENOUGH_MEMORY); a property cannot be read (ERROR_GEN_FAILURE).
HDEVINFO WINAPI RefuseDeviceSet(const GUID *, PCSTR, HWND, DWORD);
BOOL WINAPI FailPropertyRead(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);

// Trace lines as one indented text, for failure messages.
std::string JoinLines(const std::vector<std::string> &lines);
