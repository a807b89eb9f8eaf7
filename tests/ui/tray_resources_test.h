// Resources the tray and wait-window tests need (the icon menu and the
// wait dialog), written by the test into a copy of the test program and
// loaded from there as a data file, the way a language library is.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace trayres {

inline void PushString(std::vector<WORD>& out, const wchar_t* text)
{
    for (; *text; ++text)
        out.push_back(static_cast<WORD>(*text));
    out.push_back(0);
}

// Menu 138: a popup with "&Open" 0x8008 and "&Exit" 0x8006.
inline std::vector<WORD> TrayMenuTemplate()
{
    std::vector<WORD> t = {0, 0};  // version, header size
    t.push_back(MF_POPUP | MF_END);
    PushString(t, L"&File");
    t.push_back(0);
    t.push_back(0x8008);
    PushString(t, L"&Open");
    t.push_back(MF_END);
    t.push_back(0x8006);
    PushString(t, L"&Exit");
    return t;
}

inline void AlignDword(std::vector<WORD>& t)
{
    if (t.size() % 2)
        t.push_back(0);
}

inline void PushDword(std::vector<WORD>& t, DWORD v)
{
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
}

inline void PushItem(std::vector<WORD>& t, DWORD style, short x, short y, short cx, short cy,
                     WORD id, WORD classAtom, const wchar_t* text)
{
    AlignDword(t);
    PushDword(t, style | WS_CHILD | WS_VISIBLE);
    PushDword(t, 0);
    t.push_back(static_cast<WORD>(x));
    t.push_back(static_cast<WORD>(y));
    t.push_back(static_cast<WORD>(cx));
    t.push_back(static_cast<WORD>(cy));
    t.push_back(id);
    t.push_back(0xFFFF);
    t.push_back(classAtom);
    PushString(t, text);
    t.push_back(0);  // no creation data
}

// Dialog 13085: the wait window, text 1003 and a "Cancel" button; not visible.
inline std::vector<WORD> WaitDialogTemplate()
{
    std::vector<WORD> t;
    PushDword(t, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
    PushDword(t, 0);
    t.push_back(2);  // items
    t.push_back(0);
    t.push_back(0);
    t.push_back(200);
    t.push_back(60);
    t.push_back(0);  // no menu
    t.push_back(0);  // default class
    PushString(t, L"Please wait");
    t.push_back(8);
    PushString(t, L"MS Shell Dlg");
    PushItem(t, SS_LEFT, 10, 10, 180, 20, 1003, 0x0082, L"Please wait...");
    PushItem(t, BS_PUSHBUTTON | WS_TABSTOP, 140, 38, 50, 14, IDCANCEL, 0x0080, L"Cancel");
    return t;
}

struct ResourceModule {
    HMODULE hModule;
    std::wstring path;
};

inline ResourceModule& TheResourceModule()
{
    static ResourceModule s_module;
    return s_module;
}

inline void FreeResourceModule()
{
    ResourceModule& m = TheResourceModule();
    if (m.hModule)
        FreeLibrary(m.hModule);
    if (!m.path.empty())
        DeleteFileW(m.path.c_str());
    m.hModule = nullptr;
}

// The program beside the test program (launcher.exe), as a data file.
inline HMODULE LoadLauncherAsData()
{
    wchar_t szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    while (cch > 0 && szPath[cch - 1] != L'\\')
        --cch;
    szPath[cch] = L'\0';
    lstrcatW(szPath, L"launcher.exe");
    return LoadLibraryExW(szPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// A module holding menu 138 and dialog 13085, or null. Made once per
// process and deleted at exit.
inline HMODULE UiResourceModule()
{
    ResourceModule& m = TheResourceModule();
    if (m.hModule)
        return m.hModule;
    wchar_t szSelf[MAX_PATH];
    wchar_t szDir[MAX_PATH];
    GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    GetTempPathW(MAX_PATH, szDir);
    std::wstring path = std::wstring(szDir) + L"stowaway_ui_res_" +
                        std::to_wstring(GetCurrentProcessId()) + L".dll";
    if (!CopyFileW(szSelf, path.c_str(), FALSE))
        return nullptr;
    m.path = path;
    atexit(FreeResourceModule);
    HANDLE hUpdate = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!hUpdate)
        return nullptr;
    std::vector<WORD> menu = TrayMenuTemplate();
    std::vector<WORD> dialog = WaitDialogTemplate();
    const WORD lang = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    bool ok = UpdateResourceW(hUpdate, RT_MENU, MAKEINTRESOURCEW(138), lang, menu.data(),
                              static_cast<DWORD>(menu.size() * sizeof(WORD))) &&
              UpdateResourceW(hUpdate, RT_DIALOG, MAKEINTRESOURCEW(13085), lang, dialog.data(),
                              static_cast<DWORD>(dialog.size() * sizeof(WORD)));
    if (!EndUpdateResourceW(hUpdate, !ok) || !ok)
        return nullptr;
    m.hModule = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return m.hModule;
}

}  // namespace trayres
