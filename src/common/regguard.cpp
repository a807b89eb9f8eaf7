#include "common/regguard.h"
#include "common/boundedtext.h"
#include <string>

namespace {

// Keys of HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and each user's hive,
// upper case, without their root.
const WCHAR* const SHARED_KEYS[] = {
    L"SOFTWARE",
    L"SOFTWARE\\CLASSES",
    L"SOFTWARE\\CLASSES\\CLSID",
    L"SOFTWARE\\CLASSES\\INTERFACE",
    L"SOFTWARE\\CLASSES\\TYPELIB",
    L"SOFTWARE\\POLICIES",
    L"SOFTWARE\\MICROSOFT",
    L"SOFTWARE\\MICROSOFT\\WINDOWS",
    L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
    L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES",
    L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER",
    L"SOFTWARE\\MICROSOFT\\WINDOWS NT",
    L"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION",
    L"SOFTWARE\\WOW6432NODE",
    L"SOFTWARE\\WOW6432NODE\\CLASSES",
    L"SOFTWARE\\WOW6432NODE\\MICROSOFT",
    L"SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS",
    L"SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
    L"SYSTEM",
    L"SYSTEM\\CURRENTCONTROLSET",
    L"SYSTEM\\CURRENTCONTROLSET\\CONTROL",
    L"SYSTEM\\CURRENTCONTROLSET\\SERVICES",
    L"SYSTEM\\CONTROLSET001",
    L"SYSTEM\\CONTROLSET002",
    L"SYSTEM\\SETUP",
    L"SAM",
    L"SECURITY",
    L"HARDWARE",
    L"CONTROL PANEL",
    L"ENVIRONMENT",
};

// Lists every program adds its own entries to: their values are open, the
// keys are not.
const WCHAR* const SHARED_LISTS[] = {
    L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN",
    L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE",
    L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL",
    L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\APP PATHS",
    L"SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN",
    L"SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE",
    L"SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL",
    L"ENVIRONMENT",
};

// Keys of HKEY_CLASSES_ROOT, the classes every program shares.
const WCHAR* const CLASSES_KEYS[] = {
    L"CLSID", L"INTERFACE", L"TYPELIB", L"APPID", L"*", L"DIRECTORY", L"FOLDER", L"DRIVE",
    L"ALLFILESYSTEMOBJECTS", L"WOW6432NODE",
};

// Upper case, one backslash between parts, none at either end.
std::wstring CanonicalKey(LPCWSTR szKey)
{
    std::wstring out;
    for (LPCWSTR p = szKey ? szKey : L""; *p; ++p) {
        WCHAR c = *p;
        if (c == L'/' )
            c = L'\\';
        if (c == L'\\' && (out.empty() || out.back() == L'\\'))
            continue;
        out += c;
    }
    while (!out.empty() && (out.back() == L'\\' || out.back() == L' '))
        out.pop_back();
    size_t first = out.find_first_not_of(L' ');
    out.erase(0, first == std::wstring::npos ? out.size() : first);
    if (!out.empty())
        CharUpperBuffW(&out[0], static_cast<DWORD>(out.size()));
    return out;
}

bool Holds(const std::wstring& key, const std::wstring& inner)
{
    return inner.size() > key.size() && inner.compare(0, key.size(), key) == 0 &&
           inner[key.size()] == L'\\';
}

template <size_t N>
bool InList(const WCHAR* const (&list)[N], const std::wstring& key, bool bOrHolder)
{
    for (LPCWSTR szEntry : list) {
        if (key == szEntry || (bOrHolder && Holds(key, szEntry)))
            return true;
    }
    return false;
}

// Why the key (below its hive's own root) may not take the step, or empty.
std::wstring HiveRefusal(const std::wstring& key, REGGUARDOP op)
{
    bool bDeleteKey = op == REGGUARD_DELETE_KEY;
    if (InList(SHARED_LISTS, key, false))
        return bDeleteKey ? L"a list every program shares" : L"";
    if (InList(SHARED_KEYS, key, bDeleteKey) || (bDeleteKey && InList(SHARED_LISTS, key, true)))
        return L"a key every program shares";
    return L"";
}

}  // namespace

BOOL GuardRegistryKey(HKEY hRoot, LPCWSTR szKey, REGGUARDOP op, LPWSTR szReason, size_t cchReason)
{
    std::wstring key = CanonicalKey(szKey);
    std::wstring reason;
    if (key.empty()) {
        reason = L"the root of the hive";
    } else if (hRoot == HKEY_LOCAL_MACHINE || hRoot == HKEY_CURRENT_USER) {
        reason = HiveRefusal(key, op);
    } else if (hRoot == HKEY_USERS) {
        // Each user's hive, then the same keys inside it.
        size_t slash = key.find(L'\\');
        reason = slash == std::wstring::npos ? L"a user's hive" : HiveRefusal(key.substr(slash + 1), op);
    } else if (hRoot == HKEY_CLASSES_ROOT) {
        if (InList(CLASSES_KEYS, key, op == REGGUARD_DELETE_KEY))
            reason = L"a key every program shares";
    } else if (hRoot == HKEY_CURRENT_CONFIG) {
        if (op == REGGUARD_DELETE_KEY && key.find(L'\\') == std::wstring::npos)
            reason = L"a key every program shares";
    }
    if (szReason && cchReason)
        // A reason is only shown.
        (void)StringCchCopyW(szReason, cchReason, reason.c_str());
    return reason.empty();
}
