#pragma once
// Records the registry calls this test program makes through advapi32, in order, by replacing
// their import slots. Wine's RegEnumValue lists values by name, so the order of writes is only
// seen this way.
#include <string>
#include <vector>

class RegistryRecorder {
public:
    RegistryRecorder();   // starts recording
    ~RegistryRecorder();  // stops recording
    RegistryRecorder(const RegistryRecorder &) = delete;
    RegistryRecorder &operator=(const RegistryRecorder &) = delete;

    bool Installed() const { return installed_; }
    // One line per call: "open 0x20019", "query NAME", "set NAME type=4 size=4 dword=3", "close".
    std::vector<std::string> Calls() const;
    // Only the "set" lines.
    std::vector<std::string> Sets() const;

private:
    bool installed_;
};
