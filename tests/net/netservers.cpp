#include "netservers.h"
#include <wincrypt.h>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>
#include "common/filesys.h"
#include "common/sysdll.h"

namespace netservers {

namespace {

typedef char*(CDECL* PFN_WINE_GET_UNIX_FILE_NAME)(LPCWSTR);
typedef WCHAR*(CDECL* PFN_WINE_GET_DOS_FILE_NAME)(const char*);

typedef HCERTSTORE(WINAPI* PFN_CERTOPENSTORE)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*);
typedef BOOL(WINAPI* PFN_CERTCLOSESTORE)(HCERTSTORE, DWORD);
typedef BOOL(WINAPI* PFN_CERTADDENCODED)(HCERTSTORE, DWORD, const BYTE*, DWORD, DWORD, PCCERT_CONTEXT*);
typedef PCCERT_CONTEXT(WINAPI* PFN_CERTFINDCERT)(HCERTSTORE, DWORD, DWORD, DWORD, const void*,
                                                 PCCERT_CONTEXT);
typedef BOOL(WINAPI* PFN_CERTDELETE)(PCCERT_CONTEXT);

Info g_info;
bool TrustTestCA(bool bTrust);
bool g_started = false;
std::string g_workUnix;
std::wstring g_workDos;
std::vector<BYTE> g_caDer;

template <typename T>
T Proc(HMODULE h, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(h, name)));
}

std::string ToUnix(const std::wstring& dos)
{
    auto p = Proc<PFN_WINE_GET_UNIX_FILE_NAME>(GetModuleHandleW(L"kernel32.dll"),
                                               "wine_get_unix_file_name");
    if (!p)
        return "";
    char* s = p(dos.c_str());
    if (!s)
        return "";
    std::string out(s);
    HeapFree(GetProcessHeap(), 0, s);
    return out;
}

std::wstring ToDos(const std::string& unix)
{
    auto p = Proc<PFN_WINE_GET_DOS_FILE_NAME>(GetModuleHandleW(L"kernel32.dll"),
                                              "wine_get_dos_file_name");
    if (!p)
        return L"";
    WCHAR* s = p(unix.c_str());
    if (!s)
        return L"";
    std::wstring out(s);
    HeapFree(GetProcessHeap(), 0, s);
    return out;
}

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

std::wstring SourceRoot()
{
    WCHAR buf[MAX_PATH * 2] = L"";
    DWORD n = GetEnvironmentVariableW(L"STOWAWAY_ROOT", buf, MAX_PATH * 2);
    if (n && n < MAX_PATH * 2) {
        std::wstring dos = ToDos(std::string(buf, buf + n));
        if (!dos.empty())
            return dos;
    }
    // <root>\build\<preset>\bin\test_net.exe
    GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
    std::wstring path(buf);
    for (int i = 0; i < 4; ++i)
        path = path.substr(0, path.find_last_of(L'\\'));
    return path;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::map<std::string, std::string> ReadInfo(const std::wstring& path)
{
    std::map<std::string, std::string> out;
    std::ifstream in(path.c_str());
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

void Start()
{
    g_started = true;
    std::wstring script = SourceRoot() + L"\\tests\\servers\\netservers.py";
    if (!FileExists(script)) {
        g_info.error = "tests/servers/netservers.py not found";
        return;
    }
    std::string scriptUnix = ToUnix(script);
    if (!FileExists(L"Z:\\usr\\bin\\python3")) {
        g_info.error = "no /usr/bin/python3";
        return;
    }
    std::ostringstream work;
    work << "/tmp/stowaway-net-" << GetCurrentProcessId() << "-" << GetTickCount();
    g_workUnix = work.str();
    g_workDos = ToDos(g_workUnix);
    if (scriptUnix.empty() || g_workDos.empty()) {
        g_info.error = "no Wine path conversion";
        return;
    }

    // Wine starts Linux programs too; the server runs detached and ends on
    // the stop file (or when idle for long).
    std::wstring cmd = L"Z:\\usr\\bin\\python3 " + Widen(scriptUnix) + L" --workdir " +
                       Widen(g_workUnix) + L" --idle 900";
    std::vector<WCHAR> cmdBuf(cmd.begin(), cmd.end());
    cmdBuf.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmdBuf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        g_info.error = "servers did not start";
        return;
    }
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);

    std::wstring infoFile = g_workDos + L"\\servers.info";
    for (int i = 0; i < 600 && !FileExists(infoFile); ++i)
        Sleep(50);
    if (!FileExists(infoFile)) {
        g_info.error = "servers did not report";
        return;
    }
    auto kv = ReadInfo(infoFile);
    g_info.httpPort = atoi(kv["http_port"].c_str());
    g_info.httpsPort = atoi(kv["https_port"].c_str());
    g_info.untrustedPort = atoi(kv["https_untrusted_port"].c_str());
    g_info.wrongHostPort = atoi(kv["https_wronghost_port"].c_str());
    g_info.expiredPort = atoi(kv["https_expired_port"].c_str());
    g_info.faultPort = atoi(kv["fault_port"].c_str());
    g_info.ftpPort = atoi(kv["ftp_port"].c_str());
    g_info.ftpUser = Widen(kv["ftp_user"]);
    g_info.ftpPassword = Widen(kv["ftp_password"]);
    g_info.wwwDir = ToDos(kv["root"]);
    g_info.logFile = ToDos(kv["log"]);
    g_info.caFile = ToDos(kv["ca_der"]);
    std::ifstream ca(g_info.caFile.c_str(), std::ios::binary);
    g_caDer.assign(std::istreambuf_iterator<char>(ca), std::istreambuf_iterator<char>());
    if (!g_info.httpPort || !g_info.httpsPort || !g_info.untrustedPort || !g_info.wrongHostPort ||
        !g_info.expiredPort || !g_info.faultPort || !g_info.ftpPort || g_caDer.empty()) {
        g_info.error = "incomplete servers.info";
        return;
    }
    if (!TrustTestCA(true)) {
        g_info.error = "test CA not trusted";
        return;
    }
    g_info.ok = true;
    atexit(Stop);
}

std::wstring Port(int port)
{
    return std::to_wstring(port);
}

}  // namespace

const Info& Get()
{
    if (!g_started)
        Start();
    return g_info;
}

void Stop()
{
    if (!g_started || g_workDos.empty())
        return;
    TrustTestCA(false);
    HANDLE h = CreateFileW((g_workDos + L"\\stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    g_workDos.clear();
}

namespace {

bool TrustTestCA(bool bTrust)
{
    if (g_caDer.empty())
        return false;
    HMODULE hCrypt = LoadSystemLibrary(L"crypt32.dll");
    if (!hCrypt)
        return false;
    auto pOpen = Proc<PFN_CERTOPENSTORE>(hCrypt, "CertOpenStore");
    auto pClose = Proc<PFN_CERTCLOSESTORE>(hCrypt, "CertCloseStore");
    auto pAdd = Proc<PFN_CERTADDENCODED>(hCrypt, "CertAddEncodedCertificateToStore");
    auto pFind = Proc<PFN_CERTFINDCERT>(hCrypt, "CertFindCertificateInStore");
    auto pDelete = Proc<PFN_CERTDELETE>(hCrypt, "CertDeleteCertificateFromStore");
    bool ok = false;
    if (pOpen && pClose && pAdd && pFind && pDelete) {
        HCERTSTORE hStore = pOpen(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (hStore) {
            if (bTrust) {
                ok = pAdd(hStore, X509_ASN_ENCODING, g_caDer.data(), static_cast<DWORD>(g_caDer.size()),
                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
            } else {
                ok = true;
                PCCERT_CONTEXT pCert = nullptr;
                // Find by the whole encoded certificate (sha1 of it).
                CRYPT_HASH_BLOB blob;
                BYTE hash[20];
                DWORD cb = sizeof(hash);
                typedef BOOL(WINAPI * PFN_HASH)(HCRYPTPROV_LEGACY, ALG_ID, DWORD, const BYTE*, DWORD, BYTE*, DWORD*);
                auto pHash = Proc<PFN_HASH>(hCrypt, "CryptHashCertificate");
                if (pHash && pHash(0, CALG_SHA1, 0, g_caDer.data(), static_cast<DWORD>(g_caDer.size()), hash, &cb)) {
                    blob.cbData = cb;
                    blob.pbData = hash;
                    pCert = pFind(hStore, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
                    if (pCert)
                        ok = pDelete(pCert) != FALSE;
                }
            }
            pClose(hStore, 0);
        }
    }
    FreeLibrary(hCrypt);
    return ok;
}

}  // namespace

std::wstring HttpUrl(const std::wstring& path)
{
    return L"http://127.0.0.1:" + Port(Get().httpPort) + path;
}

// Secure URLs name the host "localhost": the certificates carry that name
// (an address is not matched against the certificate on every system).
std::wstring HttpsUrl(const std::wstring& path)
{
    return L"https://localhost:" + Port(Get().httpsPort) + path;
}

std::wstring UntrustedUrl(const std::wstring& path)
{
    return L"https://localhost:" + Port(Get().untrustedPort) + path;
}

std::wstring WrongHostUrl(const std::wstring& path)
{
    return L"https://localhost:" + Port(Get().wrongHostPort) + path;
}

std::wstring ExpiredUrl(const std::wstring& path)
{
    return L"https://localhost:" + Port(Get().expiredPort) + path;
}

std::wstring FaultUrl(const std::wstring& path)
{
    return L"http://127.0.0.1:" + Port(Get().faultPort) + path;
}

std::wstring FtpUrl(const std::wstring& path, bool bWithLogin)
{
    const Info& i = Get();
    std::wstring login = bWithLogin ? i.ftpUser + L":" + i.ftpPassword + L"@" : L"";
    return L"ftp://" + login + L"127.0.0.1:" + Port(i.ftpPort) + path;
}

std::wstring ServeFile(const std::wstring& name, DWORD size, const SYSTEMTIME& stUtc, BYTE seed)
{
    std::wstring path = Get().wwwDir + L"\\" + name;
    size_t slash = path.find_last_of(L'\\');
    // No folder, no file: the caller sees an empty path.
    if (CreateAllDirectory(path.substr(0, slash).c_str()) != ERROR_SUCCESS)
        return L"";
    std::vector<BYTE> data(size);
    for (DWORD i = 0; i < size; ++i)
        data[i] = PatternByte(i, seed);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return L"";
    DWORD written = 0;
    if (size)
        WriteFile(h, data.data(), size, &written, nullptr);
    FILETIME ft;
    SystemTimeToFileTime(&stUtc, &ft);
    SetFileTime(h, &ft, nullptr, &ft);
    CloseHandle(h);
    return path;
}

std::string RequestLog()
{
    std::ifstream in(Get().logFile.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace netservers
