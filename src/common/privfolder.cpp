#include "common/privfolder.h"
#include "common/safefile.h"
#include <aclapi.h>
#include "common/boundedtext.h"
#include <vector>
#include "common/capacity.h"
#include "common/errors.h"
#include "common/filesys.h"
#include "common/handles.h"
#include "common/runfiles.h"
#include "common/trace.h"

namespace {

const WCHAR LOCK_FILE[] = L"run.lock";

// The calling process's user (TokenUser) or default owner (TokenOwner).
std::vector<BYTE> TokenSid(TOKEN_INFORMATION_CLASS cls)
{
    std::vector<BYTE> sid;
    HANDLE hRaw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hRaw))
        return sid;
    CHandle hToken(hRaw);
    DWORD cb = 0;
    GetTokenInformation(hToken.Get(), cls, nullptr, 0, &cb);
    if (!cb)
        return sid;
    std::vector<BYTE> info(cb);
    if (!GetTokenInformation(hToken.Get(), cls, info.data(), cb, &cb))
        return sid;
    PSID pSid = cls == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;
    if (!pSid || !IsValidSid(pSid))
        return sid;
    sid.resize(GetLengthSid(pSid));
    CopySid(static_cast<DWORD>(sid.size()), sid.data(), pSid);
    return sid;
}

BOOL IsElevated()
{
    HANDLE hRaw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hRaw))
        return FALSE;
    CHandle hToken(hRaw);
    TOKEN_ELEVATION elevation = {};
    DWORD cb = 0;
    return GetTokenInformation(hToken.Get(), TokenElevation, &elevation, sizeof(elevation), &cb) &&
           elevation.TokenIsElevated;
}

// Owns the private access list.
class CPrivateAcl {
public:
    CPrivateAcl() : m_pAcl(NewPrivateAcl()) {}
    ~CPrivateAcl()
    {
        if (m_pAcl)
            LocalFree(m_pAcl);
    }
    CPrivateAcl(const CPrivateAcl&) = delete;
    CPrivateAcl& operator=(const CPrivateAcl&) = delete;
    PACL Get() const { return m_pAcl; }

private:
    PACL m_pAcl;
};

BOOL SameSid(const std::vector<BYTE>& sid, PSID pOther)
{
    return !sid.empty() && pOther && EqualSid(const_cast<BYTE*>(sid.data()), pOther);
}

class CLinkRemover : public IFolderVisitor {
public:
    BOOL OnFile(LPCWSTR szPath, LPCWSTR, const WIN32_FIND_DATAW& fd) override
    {
        // A file link shows as one on Windows; elsewhere it may look like a
        // plain file and only its final path tells.
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || InspectEntry(szPath) == ENTRY_LINK)
            Removed(szPath, DeleteFileNoLink(szPath) == ERROR_SUCCESS);
        return TRUE;
    }
    BOOL OnFolderLink(LPCWSTR szPath, const WIN32_FIND_DATAW&) override
    {
        Removed(szPath, RemoveDirectoryW(szPath));
        return TRUE;
    }
    BOOL m_bAllGone = TRUE;

private:
    // Judged by what is there afterwards: some systems report success
    // without removing the link itself.
    void Removed(LPCWSTR szPath, BOOL bReported)
    {
        BOOL bGone = GetFileAttributesW(szPath) == INVALID_FILE_ATTRIBUTES;
        DebugTrace(L"RemoveLinksBelow()->%s (%d)", szPath, bReported && bGone);
        m_bAllGone = m_bAllGone && bGone;
    }
};

BOOL LockPath(LPCWSTR szFolder, WCHAR (&szLock)[PATH_CCH])
{
    return SUCCEEDED(StringCchPrintfW(szLock, PATH_CCH, L"%s\\%s", szFolder, LOCK_FILE));
}

}  // namespace

PACL NewPrivateAcl()
{
    std::vector<BYTE> user = TokenSid(TokenUser);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID pSystem = nullptr;
    PSID pAdmins = nullptr;
    PACL pAcl = nullptr;
    if (!user.empty() &&
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &pSystem) &&
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &pAdmins)) {
        EXPLICIT_ACCESSW access[3] = {};
        PSID sids[3] = {user.data(), pSystem, pAdmins};
        for (int i = 0; i < 3; ++i) {
            access[i].grfAccessPermissions = GENERIC_ALL;
            access[i].grfAccessMode = SET_ACCESS;
            access[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
            access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
            access[i].Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
            access[i].Trustee.ptstrName = static_cast<LPWSTR>(sids[i]);
        }
        if (IsElevated())
            access[0].grfAccessPermissions = GENERIC_READ | GENERIC_EXECUTE;
        if (SetEntriesInAclW(3, access, nullptr, &pAcl) != ERROR_SUCCESS)
            pAcl = nullptr;
    }
    if (pAdmins)
        FreeSid(pAdmins);
    if (pSystem)
        FreeSid(pSystem);
    return pAcl;
}

DWORD CreatePrivateFolder(LPCWSTR szFolder)
{
    CPrivateAcl acl;
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    if (acl.Get() && InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&sd, TRUE, acl.Get(), FALSE) &&
        SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        sa.lpSecurityDescriptor = &sd;
    if (!sa.lpSecurityDescriptor) {
        // Without the list the folder would take TEMP's: not private.
        DebugTrace(L"CreatePrivateFolder(%s)->No access list", szFolder);
        return ERROR_INVALID_SECURITY_DESCR;
    }
    BOOL bCreated = CreateDirectoryW(szFolder, &sa);
    DWORD dwError = bCreated ? ERROR_SUCCESS : LastErrorOr(ERROR_CANNOT_MAKE);
    DebugTrace(L"CreatePrivateFolder(%s)->%d", szFolder, bCreated);
    if (bCreated)
        NoteRunFolder(szFolder);
    return dwError;
}

DWORD MakeFolderPrivate(LPCWSTR szFolder)
{
    CPrivateAcl acl;
    if (!acl.Get())
        return ERROR_INVALID_SECURITY_DESCR;
    DWORD dwResult = SetNamedSecurityInfoW(const_cast<LPWSTR>(szFolder), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                           nullptr, nullptr, acl.Get(), nullptr);
    DebugTrace(L"MakeFolderPrivate(%s)->%d", szFolder, dwResult);
    return dwResult;
}

LPCWSTR ForeignFolderReason(LPCWSTR szFolder)
{
    DWORD dwAttributes = GetFileAttributesW(szFolder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return L"missing";
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return L"a file";
    if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return L"a link";
    PSID pOwner = nullptr;
    PSECURITY_DESCRIPTOR pSD = nullptr;
    DWORD dwResult = GetNamedSecurityInfoW(szFolder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                           &pOwner, nullptr, nullptr, nullptr, &pSD);
    // A volume that keeps no owners can not tell: the folder counts as ours.
    if (dwResult != ERROR_SUCCESS)
        return nullptr;
    BOOL bOurs = !pOwner || SameSid(TokenSid(TokenUser), pOwner) || SameSid(TokenSid(TokenOwner), pOwner);
    LocalFree(pSD);
    return bOurs ? nullptr : L"owned by someone else";
}

BOOL RemoveLinksBelow(LPCWSTR szFolder)
{
    CLinkRemover remover;
    WalkFolder(szFolder, L"*", TRUE, remover);
    return remover.m_bAllGone;
}

HANDLE LockFolder(LPCWSTR szFolder)
{
    WCHAR szLock[PATH_CCH];
    if (!LockPath(szFolder, szLock))
        return INVALID_HANDLE_VALUE;
    HANDLE hLock = CreateFileW(szLock, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (hLock != INVALID_HANDLE_VALUE)
        NoteRunFile(szLock);
    return hLock;
}

BOOL IsFolderLocked(LPCWSTR szFolder)
{
    WCHAR szLock[PATH_CCH];
    if (!LockPath(szFolder, szLock))
        return TRUE;
    CFileHandle hLock(CreateFileW(szLock, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (hLock.IsValid())
        return FALSE;
    // Only a lock that is plainly not there leaves the folder free.
    DWORD dwError = GetLastError();
    return dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND;
}
