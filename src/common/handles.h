// Owners that close a handle exactly once: one template, one traits record
// per kind of handle (what "no handle" looks like and how it is closed).
#pragma once
#include <windows.h>

template <typename T, typename Traits>
class CUniqueHandle {
public:
    CUniqueHandle() : m_h(Traits::Invalid()) {}
    explicit CUniqueHandle(T h) : m_h(Traits::IsValid(h) ? h : Traits::Invalid()) {}
    ~CUniqueHandle() { Close(); }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    T Get() const { return m_h; }
    BOOL IsValid() const { return Traits::IsValid(m_h); }
    void Reset(T h = Traits::Invalid())
    {
        Close();
        m_h = Traits::IsValid(h) ? h : Traits::Invalid();
    }
    void Close()
    {
        if (Traits::IsValid(m_h))
            Traits::Close(m_h);
        m_h = Traits::Invalid();
    }
    // Gives the handle up without closing it.
    T Release()
    {
        T h = m_h;
        m_h = Traits::Invalid();
        return h;
    }
    // For calls that return the handle through a pointer: closes the
    // current one first.
    T* Put()
    {
        Close();
        return &m_h;
    }

private:
    T m_h;
};

// CreateFile results: INVALID_HANDLE_VALUE means none (null is treated so too).
struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
typedef CUniqueHandle<HANDLE, FileHandleTraits> CFileHandle;

// Processes, threads, events, mutexes, tokens: null means none.
struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
typedef CUniqueHandle<HANDLE, KernelHandleTraits> CHandle;

struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { FindClose(h); }
};
typedef CUniqueHandle<HANDLE, FindHandleTraits> CFindHandle;

struct RegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};
typedef CUniqueHandle<HKEY, RegKeyTraits> CRegKey;

struct ServiceHandleTraits {
    static SC_HANDLE Invalid() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
typedef CUniqueHandle<SC_HANDLE, ServiceHandleTraits> CServiceHandle;

struct ModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};
typedef CUniqueHandle<HMODULE, ModuleTraits> CModule;

// A COM interface pointer, released once.
template <class T>
class CComPtr {
public:
    CComPtr() : m_p(nullptr) {}
    ~CComPtr()
    {
        if (m_p)
            m_p->Release();
    }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void** Out() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p;
};
