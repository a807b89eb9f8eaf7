// Fixtures for the resource tests: scratch folders, small files, cabinets
// and modules that carry package resources (made with UpdateResource on a
// copy of a language library, which has no code of its own).
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <algorithm>
#include <string>
#include <vector>
#include "packer/cabwriter.h"

namespace fixture {

inline std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

inline void RemoveTree(const std::wstring& dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

// A fresh folder below %TEMP%, removed with its content at the end.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name)
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + L"stowaway_" + name + L"_" + std::to_wstring(GetCurrentProcessId());
        RemoveTree(path_);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchDir() { RemoveTree(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

inline bool WriteBytes(const std::wstring& path, const void* data, DWORD size)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, data, size, &written, nullptr);
    CloseHandle(h);
    return ok && written == size;
}

inline bool WriteText(const std::wstring& path, const std::string& text)
{
    return WriteBytes(path, text.data(), static_cast<DWORD>(text.size()));
}

inline std::string ReadBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string data(GetFileSize(h, nullptr), '\0');
    DWORD read = 0;
    if (!data.empty())
        ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &read, nullptr);
    CloseHandle(h);
    data.resize(read);
    return data;
}

inline bool FileExists(const std::wstring& path)
{
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

// Names of the files (not folders) directly in a folder, sorted.
inline std::vector<std::wstring> ListFiles(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

struct Member {
    std::wstring source;
    std::string stored;
};

inline DWORD MakeCabinet(const std::wstring& cabinet, const std::vector<Member>& members)
{
    std::vector<std::wstring> names;
    for (const Member& m : members)
        names.push_back(std::wstring(m.stored.begin(), m.stored.end()));  // ASCII
    std::vector<CABMEMBER> list;
    for (size_t i = 0; i < members.size(); ++i)
        list.push_back({members[i].source.c_str(), names[i].c_str()});
    return CreateCabinet(cabinet.c_str(), list.data(), static_cast<DWORD>(list.size()), TRUE);
}

struct Resource {
    const wchar_t* type;
    WORD id;
    std::string data;
};

// A module (loaded as data) holding the given resources besides the
// English library's own.
class ResourceModule {
public:
    ResourceModule(const std::wstring& path, const std::vector<Resource>& resources)
    {
        if (!CopyFileW((BinDir() + L"EnglishUS.lng").c_str(), path.c_str(), FALSE))
            return;
        HANDLE hUpdate = BeginUpdateResourceW(path.c_str(), FALSE);
        if (!hUpdate)
            return;
        for (const Resource& r : resources) {
            UpdateResourceW(hUpdate, r.type, MAKEINTRESOURCEW(r.id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                            const_cast<char*>(r.data.data()), static_cast<DWORD>(r.data.size()));
        }
        if (!EndUpdateResourceW(hUpdate, FALSE))
            return;
        h_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~ResourceModule()
    {
        if (h_)
            FreeLibrary(h_);
    }
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;
    HMODULE get() const { return h_; }

private:
    HMODULE h_ = nullptr;
};

inline std::string Narrow(const std::wstring& s)
{
    int n = WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

// Trace lines that start with a prefix, in order.
inline std::vector<std::string> LinesWithPrefix(const std::vector<std::string>& lines,
                                                const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l);
    return out;
}

}  // namespace fixture
