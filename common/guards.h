#pragma once
// Scope guards, one per release function, so every path releases what it acquired.
#include <windows.h>
#include <setupapi.h>

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() : value_(Traits::Empty()) {}
    explicit UniqueResource(Type value) : value_(value) {}
    ~UniqueResource() { Reset(); }
    UniqueResource(const UniqueResource &) = delete;
    UniqueResource &operator=(const UniqueResource &) = delete;
    UniqueResource(UniqueResource &&other) noexcept : value_(other.Release()) {}
    UniqueResource &operator=(UniqueResource &&other) noexcept
    {
        Reset(other.Release());
        return *this;
    }

    Type Get() const { return value_; }
    bool Valid() const { return value_ != Traits::Empty(); }

    // For out-parameters: releases the current value, then lends the slot.
    Type *Receive()
    {
        Reset();
        return &value_;
    }

    Type Release()
    {
        Type value = value_;
        value_ = Traits::Empty();
        return value;
    }

    void Reset(Type value = Traits::Empty())
    {
        if (Valid()) Traits::Close(value_);
        value_ = value;
    }

    // Releases now and gives the release function's own result (TRUE when nothing was held).
    BOOL Close()
    {
        BOOL ok = Valid() ? Traits::Close(value_) : TRUE;
        value_ = Traits::Empty();
        return ok;
    }

private:
    Type value_;
};

struct HandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return nullptr; }
    static BOOL Close(HANDLE h) { return CloseHandle(h); }
};

struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HANDLE h) { return CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HANDLE h) { return FindClose(h); }
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static HKEY Empty() { return nullptr; }
    static BOOL Close(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }
};

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static SC_HANDLE Empty() { return nullptr; }
    static BOOL Close(SC_HANDLE h) { return CloseServiceHandle(h); }
};

struct DeviceInfoSetTraits {
    using Type = HDEVINFO;
    static HDEVINFO Empty() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HDEVINFO set) { return SetupDiDestroyDeviceInfoList(set); }
};

struct InfFileTraits {
    using Type = HINF;
    static HINF Empty() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HINF inf)
    {
        SetupCloseInfFile(inf);
        return TRUE;
    }
};

struct ModuleTraits {
    using Type = HMODULE;
    static HMODULE Empty() { return nullptr; }
    static BOOL Close(HMODULE module) { return FreeLibrary(module); }
};

struct EventSourceTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return nullptr; }
    static BOOL Close(HANDLE source) { return DeregisterEventSource(source); }
};

struct AttributeListTraits {
    using Type = LPPROC_THREAD_ATTRIBUTE_LIST;
    static Type Empty() { return nullptr; }
    static BOOL Close(Type list)
    {
        DeleteProcThreadAttributeList(list);
        return TRUE;
    }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
using UniqueDeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;
using UniqueInfFile = UniqueResource<InfFileTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueEventSource = UniqueResource<EventSourceTraits>;
using UniqueAttributeList = UniqueResource<AttributeListTraits>;

// Takes a mutex without waiting, and holds it, if it was free, until the scope ends.
class MutexOwnership {
public:
    explicit MutexOwnership(HANDLE mutex) : mutex_(mutex), held_(false)
    {
        if (mutex_ == nullptr) return;
        DWORD result = WaitForSingleObject(mutex_, 0);
        held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    ~MutexOwnership()
    {
        if (held_) ReleaseMutex(mutex_);
    }
    MutexOwnership(const MutexOwnership &) = delete;
    MutexOwnership &operator=(const MutexOwnership &) = delete;

    bool Held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION *section) : section_(section)
    {
        EnterCriticalSection(section_);
    }
    ~CriticalSectionLock() { LeaveCriticalSection(section_); }
    CriticalSectionLock(const CriticalSectionLock &) = delete;
    CriticalSectionLock &operator=(const CriticalSectionLock &) = delete;

private:
    CRITICAL_SECTION *section_;
};
