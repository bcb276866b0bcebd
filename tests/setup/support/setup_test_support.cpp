#include "setup_test_support.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "guards.h"

ConsoleCapture::ConsoleCapture()
{
    fflush(stdout);
    fflush(stderr);
    Redirect(&out_, 1);
    Redirect(&err_, 2);
    active_ = true;
}

ConsoleCapture::~ConsoleCapture()
{
    Stop();
}

void ConsoleCapture::Redirect(Stream *stream, int fd)
{
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    GetTempFileNameA(directory, "out", 0, stream->file);
    // Text mode, as the standard streams of the installer are.
    int file = _open(stream->file, _O_WRONLY | _O_TRUNC | _O_TEXT);
    stream->fd = fd;
    stream->saved = _dup(fd);
    _dup2(file, fd);
    _close(file);
}

std::string ConsoleCapture::Restore(Stream *stream)
{
    _dup2(stream->saved, stream->fd);
    _close(stream->saved);
    std::string bytes = ReadFileBytes(stream->file);
    DeleteFileA(stream->file);
    return bytes;
}

void ConsoleCapture::Stop()
{
    if (!active_) return;
    active_ = false;
    fflush(stdout);
    fflush(stderr);
    output_ = Restore(&out_);
    errors_ = Restore(&err_);
}

// One capture at a time; the handler only reads what OutputDebugStringA passes with its exception.
static TraceCapture *g_activeTrace = nullptr;

TraceCapture::TraceCapture() : thread_(GetCurrentThreadId())
{
    g_activeTrace = this;
    handler_ = AddVectoredExceptionHandler(1, Handler);
}

TraceCapture::~TraceCapture()
{
    RemoveVectoredExceptionHandler(handler_);
    g_activeTrace = nullptr;
}

LONG CALLBACK TraceCapture::Handler(EXCEPTION_POINTERS *pointers)
{
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    TraceCapture *capture = g_activeTrace;
    if (capture != nullptr && record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
        GetCurrentThreadId() == capture->thread_) {
        size_t length = record->ExceptionInformation[0];
        const char *text = reinterpret_cast<const char *>(record->ExceptionInformation[1]);
        capture->lines_.push_back(length > 0 ? std::string(text, length - 1) : std::string());
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

NoConsoleInput::NoConsoleInput() : saved_(GetStdHandle(STD_INPUT_HANDLE))
{
    nul_ = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_INPUT_HANDLE, nul_);
}

NoConsoleInput::~NoConsoleInput()
{
    SetStdHandle(STD_INPUT_HANDLE, saved_);
    if (nul_ != INVALID_HANDLE_VALUE) CloseHandle(nul_);
}

TempDirectory::TempDirectory()
{
    static LONG counter = 0;
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    char name[MAX_PATH];
    snprintf(name, sizeof(name), "%szynsetup-%lu-%ld", directory, GetCurrentProcessId(),
             InterlockedIncrement(&counter));
    path_ = name;
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDirectory::~TempDirectory()
{
    RemoveTree(path_);
}

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA entry;
    UniqueFindHandle search(FindFirstFileA((path + "\\*").c_str(), &entry));
    if (search.Valid()) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search.Get(), &entry));
        search.Close();
    }
    RemoveDirectoryA(path.c_str());
}

std::string ReadFileBytes(const std::string &path)
{
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char chunk[4096];
    DWORD count = 0;
    while (file.Valid() && ReadFile(file.Get(), chunk, sizeof(chunk), &count, nullptr) && count > 0) {
        bytes.append(chunk, count);
    }
    return bytes;
}

bool WriteTextFile(const std::string &path, const std::string &text)
{
    UniqueFileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.Valid() && WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::string WithCrLf(const std::string &text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}
