#pragma once
// What the installer's operations print, trace and touch, captured inside a test program.
#include <windows.h>

#include <string>
#include <vector>

std::string ReadFileBytes(const std::string &path);

// Standard output and standard error go to files while the capture lives; Stop gives them back.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture &) = delete;
    ConsoleCapture &operator=(const ConsoleCapture &) = delete;

    // Ends the capture; afterwards Output and Errors hold the bytes written, as the C runtime wrote them.
    void Stop();
    const std::string &Output() { Stop(); return output_; }
    const std::string &Errors() { Stop(); return errors_; }
    // What has reached the standard output file so far, without flushing anything.
    std::string OutputSoFar() const { return ReadFileBytes(out_.file); }

private:
    struct Stream {
        int fd;
        int saved;
        char file[MAX_PATH];
    };
    static void Redirect(Stream *stream, int fd);
    static std::string Restore(Stream *stream);

    Stream out_ = {};
    Stream err_ = {};
    bool active_ = false;
    std::string output_;
    std::string errors_;
};

// Every OutputDebugStringA text of this thread while the capture lives, in order.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    const std::vector<std::string> &Lines() const { return lines_; }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS *pointers);
    PVOID handler_;
    DWORD thread_;
    std::vector<std::string> lines_;
};

// The console input replaced by the NUL device while alive, as for a program without a console.
class NoConsoleInput {
public:
    NoConsoleInput();
    ~NoConsoleInput();
    NoConsoleInput(const NoConsoleInput &) = delete;
    NoConsoleInput &operator=(const NoConsoleInput &) = delete;

private:
    HANDLE saved_;
    HANDLE nul_;
};

// A fresh directory under the temporary folder, removed with its contents (read-only ones too).
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory &) = delete;
    TempDirectory &operator=(const TempDirectory &) = delete;

    const std::string &Path() const { return path_; }
    // Path + "\" + relative.
    std::string operator/(const std::string &relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

bool WriteTextFile(const std::string &path, const std::string &text);
void RemoveTree(const std::string &path);
// "\n" written as the C runtime writes it to a file in text mode.
std::string WithCrLf(const std::string &text);
