// The report reads top down: the image, its resources, the file table with
// one line per record, the signature, then the verdict. Every problem is
// printed where it is found and counted; the verdict names the count.
#include "packer/verify.h"
#include <windows.h>
#include <wincrypt.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>
#include <map>
#include <vector>
#include "packer/archivelist.h"
#include "packer/itemhashes.h"
#include "packer/packer.h"
#include "packer/setupconfig.h"
#include "payload/trailer.h"
#include "res/resource.h"

namespace packer {
namespace {

const char OID_RFC3161_TIMESTAMP[] = "1.3.6.1.4.1.311.3.3.1";
const char OID_COUNTERSIGNATURE[] = "1.2.840.113549.1.9.6";
const char OID_SIGNING_TIME[] = "1.2.840.113549.1.9.5";
const BYTE DER_SEQUENCE = 0x30;
const BYTE DER_GENERALIZED_TIME = 0x18;
const BYTE DER_OCTET_STRING = 0x04;
// Certificate table entries start on 8-byte boundaries.
const ULONGLONG CERT_ALIGNMENT = 8;
const WORD CERT_TYPE_PKCS_SIGNED_DATA = 0x0002;

struct TABLERECORD {
    PAYLOADRECORD record;
    ULONGLONG ullRecordSize;  // bytes the record takes in the table
};

class TableSink : public IPayloadTableSink {
public:
    void OnTableStart(DWORD dwNbFiles) override { m_dwNbFiles = dwNbFiles; }
    void OnRecord(DWORD, const PAYLOADRECORD& record) override
    {
        ULONGLONG cb = PAYLOAD_RECORD_FIXED_SIZE + strnlen(record.szFile, PATH_CCH) +
                       strnlen(record.szFileOut, PATH_CCH);
        m_records.push_back({record, cb});
    }
    BOOL IsCancelled() override { return FALSE; }
    DWORD m_dwNbFiles = 0;
    std::vector<TABLERECORD> m_records;
};

class Report {
public:
    void Line(const std::wstring& text) { printf("%s\n", ToUtf8(text).c_str()); }
    void Problem(const std::wstring& text)
    {
        printf("  PROBLEM: %s\n", ToUtf8(text).c_str());
        ++m_problems;
    }
    int Problems() const { return m_problems; }

private:
    int m_problems = 0;
};

std::wstring Num(ULONGLONG ull)
{
    return std::to_wstring(ull);
}

std::wstring FromAnsi(const char* sz)
{
    WCHAR szWide[PATH_CCH] = L"";
    MultiByteToWideChar(CP_ACP, 0, sz, -1, szWide, PATH_CCH);
    return szWide;
}

std::wstring KindOf(BYTE type)
{
    std::wstring what = (type & TF_STORED) ? L"file" : L"archive";
    if (type & TF_EMBEDDED)
        return L"embedded " + what;
    if (type & TF_EXTERNAL)
        return ((type & TF_WEB) ? L"web " : L"external ") + what;
    return L"listed only";
}

// A package's resources, read as data: either architecture's.
class ResourceView {
public:
    explicit ResourceView(const std::wstring& path)
    {
        m_h = LoadLibraryExW(path.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (!m_h)
            m_h = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~ResourceView()
    {
        if (m_h)
            FreeLibrary(m_h);
    }
    ResourceView(const ResourceView&) = delete;
    ResourceView& operator=(const ResourceView&) = delete;
    bool Loaded() const { return m_h != nullptr; }
    // The bytes of one resource; false when it is not there.
    bool Get(LPCWSTR szType, WORD wId, const BYTE*& pb, DWORD& cb) const
    {
        HRSRC hRes = m_h ? FindResourceW(m_h, MAKEINTRESOURCEW(wId), szType) : nullptr;
        HGLOBAL hData = hRes ? LoadResource(m_h, hRes) : nullptr;
        pb = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
        cb = pb ? SizeofResource(m_h, hRes) : 0;
        return pb != nullptr;
    }
    // How many resources the image holds, all types.
    DWORD Count() const
    {
        DWORD dwCount = 0;
        if (m_h)
            EnumResourceTypesW(m_h, CountType, reinterpret_cast<LONG_PTR>(&dwCount));
        return dwCount;
    }

private:
    static BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR lParam)
    {
        ++*reinterpret_cast<DWORD*>(lParam);
        return TRUE;
    }
    static BOOL CALLBACK CountType(HMODULE hModule, LPWSTR szType, LONG_PTR lParam)
    {
        EnumResourceNamesW(hModule, szType, CountName, lParam);
        return TRUE;
    }
    HMODULE m_h = nullptr;
};

// DER: the length of the element at p (tag already skipped); false when it
// does not fit in cbLeft.
bool DerLength(const BYTE*& p, size_t& cbLeft, size_t& cbElement)
{
    if (!cbLeft)
        return false;
    BYTE first = *p++;
    --cbLeft;
    if (first < 0x80) {
        cbElement = first;
    } else {
        size_t n = first & 0x7F;
        if (n == 0 || n > sizeof(size_t) || n > cbLeft)
            return false;
        cbElement = 0;
        while (n--) {
            cbElement = (cbElement << 8) | *p++;
            --cbLeft;
        }
    }
    return cbElement <= cbLeft;
}

// genTime of a TSTInfo: the fifth element of its sequence.
std::wstring GenTimeOf(const BYTE* p, size_t cb)
{
    size_t cbElement = 0;
    if (!cb || *p != DER_SEQUENCE)
        return L"";
    ++p;
    --cb;
    if (!DerLength(p, cb, cbElement))
        return L"";
    cb = cbElement;
    for (int i = 0; i < 5 && cb; ++i) {
        BYTE tag = *p++;
        --cb;
        if (!DerLength(p, cb, cbElement))
            return L"";
        if (i == 4 && tag == DER_GENERALIZED_TIME) {
            // YYYYMMDDhhmmss[.f]Z
            std::string text(reinterpret_cast<const char*>(p), cbElement);
            if (text.size() < 15)
                return L"";
            return FromUtf8(text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2) +
                            " " + text.substr(8, 2) + ":" + text.substr(10, 2) + ":" +
                            text.substr(12, 2) + " UTC");
        }
        p += cbElement;
        cb -= cbElement;
    }
    return L"";
}

// The time of an RFC 3161 token (a signed TSTInfo).
std::wstring TokenTime(const BYTE* pb, DWORD cb)
{
    HCRYPTMSG hMsg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0,
                                          nullptr, nullptr);
    if (!hMsg)
        return L"";
    std::wstring time;
    DWORD cbContent = 0;
    if (CryptMsgUpdate(hMsg, pb, cb, TRUE) &&
        CryptMsgGetParam(hMsg, CMSG_CONTENT_PARAM, 0, nullptr, &cbContent) && cbContent) {
        std::vector<BYTE> content(cbContent);
        if (CryptMsgGetParam(hMsg, CMSG_CONTENT_PARAM, 0, content.data(), &cbContent)) {
            // Some providers hand the content over still in its OCTET STRING.
            const BYTE* p = content.data();
            size_t cbLeft = cbContent, cbInner = 0;
            if (cbLeft && *p == DER_OCTET_STRING) {
                ++p;
                --cbLeft;
                if (!DerLength(p, cbLeft, cbInner))
                    cbLeft = 0;
            }
            time = GenTimeOf(p, cbLeft);
        }
    }
    CryptMsgClose(hMsg);
    return time;
}

std::wstring FileTimeText(const FILETIME& ft)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st))
        return L"";
    WCHAR sz[40];
    swprintf(sz, 40, L"%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    return sz;
}

// The signing time of an Authenticode countersignature (a SignerInfo).
std::wstring CountersignatureTime(const BYTE* pb, DWORD cb)
{
    CMSG_SIGNER_INFO* pInfo = nullptr;
    DWORD cbInfo = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS7_SIGNER_INFO, pb, cb,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &pInfo, &cbInfo))
        return L"";
    std::wstring time;
    for (DWORD i = 0; i < pInfo->AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attr = pInfo->AuthAttrs.rgAttr[i];
        FILETIME ft;
        DWORD cbTime = sizeof(ft);
        if (!strcmp(attr.pszObjId, OID_SIGNING_TIME) && attr.cValue &&
            CryptDecodeObject(X509_ASN_ENCODING, PKCS_UTC_TIME, attr.rgValue[0].pbData,
                              attr.rgValue[0].cbData, 0, &ft, &cbTime))
            time = FileTimeText(ft);
    }
    LocalFree(pInfo);
    return time;
}

// Signer and time stamp of one PKCS#7 signature.
void DescribeSignature(const BYTE* pb, DWORD cb, Report& report)
{
    CRYPT_DATA_BLOB blob = {cb, const_cast<BYTE*>(pb)};
    HCERTSTORE hStore = nullptr;
    HCRYPTMSG hMsg = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &hStore,
                          &hMsg, nullptr)) {
        report.Problem(L"the signature is no PKCS#7 signed message");
        return;
    }
    DWORD cbInfo = 0;
    CryptMsgGetParam(hMsg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &cbInfo);
    std::vector<BYTE> infoBytes(cbInfo ? cbInfo : 1);
    auto* pInfo = reinterpret_cast<CMSG_SIGNER_INFO*>(infoBytes.data());
    if (cbInfo && CryptMsgGetParam(hMsg, CMSG_SIGNER_INFO_PARAM, 0, pInfo, &cbInfo)) {
        CERT_INFO certInfo = {};
        certInfo.Issuer = pInfo->Issuer;
        certInfo.SerialNumber = pInfo->SerialNumber;
        PCCERT_CONTEXT pCert = CertFindCertificateInStore(
            hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT, &certInfo,
            nullptr);
        WCHAR szName[256] = L"(the signer's certificate is not in the signature)";
        if (pCert) {
            CertGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, szName,
                               ARRAYSIZE(szName));
            CertFreeCertificateContext(pCert);
        }
        report.Line(std::wstring(L"  signed by: ") + szName);
        std::wstring stamp;
        for (DWORD i = 0; i < pInfo->UnauthAttrs.cAttr; ++i) {
            const CRYPT_ATTRIBUTE& attr = pInfo->UnauthAttrs.rgAttr[i];
            if (!attr.cValue)
                continue;
            if (!strcmp(attr.pszObjId, OID_RFC3161_TIMESTAMP))
                stamp = L"RFC 3161, " + TokenTime(attr.rgValue[0].pbData, attr.rgValue[0].cbData);
            else if (!strcmp(attr.pszObjId, OID_COUNTERSIGNATURE))
                stamp = L"Authenticode, " +
                        CountersignatureTime(attr.rgValue[0].pbData, attr.rgValue[0].cbData);
        }
        report.Line(L"  time stamp: " + (stamp.empty() ? std::wstring(L"none") : stamp));
    }
    CryptMsgClose(hMsg);
    CertCloseStore(hStore, 0);
}

void ListSignature(HANDLE hFile, const IMAGELAYOUT& layout, Report& report)
{
    if (!layout.bSigned) {
        report.Line(L"signature: none");
        return;
    }
    report.Line(L"signature: certificate table at " + Num(layout.ullCertOffset) + L", " +
                Num(layout.ullCertEnd - layout.ullCertOffset) + L" bytes");
    if (layout.ullCertEnd != layout.ullFileSize)
        report.Problem(Num(layout.ullFileSize - layout.ullCertEnd) +
                       L" bytes follow the certificate table");
    // WIN_CERTIFICATE entries: length, revision, type, then the signature.
    ULONGLONG ullAt = layout.ullCertOffset;
    while (ullAt + 8 <= layout.ullCertEnd) {
        BYTE head[8];
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(ullAt);
        DWORD cbRead = 0;
        if (!SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN) ||
            !ReadFile(hFile, head, sizeof(head), &cbRead, nullptr) || cbRead != sizeof(head))
            break;
        DWORD dwLength = head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<DWORD>(head[3]) << 24);
        WORD wType = static_cast<WORD>(head[6] | (head[7] << 8));
        if (dwLength < 8 || dwLength > layout.ullCertEnd - ullAt) {
            report.Problem(L"a certificate entry at " + Num(ullAt) + L" does not fit the table");
            return;
        }
        if (wType == CERT_TYPE_PKCS_SIGNED_DATA) {
            std::vector<BYTE> signature(dwLength - 8);
            if (ReadFile(hFile, signature.data(), static_cast<DWORD>(signature.size()), &cbRead,
                         nullptr) &&
                cbRead == signature.size())
                DescribeSignature(signature.data(), cbRead, report);
        } else {
            report.Line(L"  an entry of type " + Num(wType) + L", not Authenticode");
        }
        ullAt += (dwLength + CERT_ALIGNMENT - 1) / CERT_ALIGNMENT * CERT_ALIGNMENT;
    }
}

void ListResources(const ResourceView& view, Report& report)
{
    struct KNOWN {
        LPCWSTR szType;
        WORD wId;
    };
    const KNOWN known[] = {{L"CFG", IDR_CFG},
                           {L"BINARY", IDR_BINARY},
                           {L"DATA", IDR_DATA},
                           {L"CORVEL", IDR_CORVEL},
                           {ITEMHASH_RESOURCE_TYPE, static_cast<WORD>(ITEMHASH_RESOURCE_ID)}};
    if (!view.Loaded()) {
        report.Problem(L"the resources cannot be read");
        return;
    }
    report.Line(L"resources:");
    DWORD dwOwn = view.Count();
    for (const KNOWN& k : known) {
        const BYTE* pb = nullptr;
        DWORD cb = 0;
        if (!view.Get(k.szType, k.wId, pb, cb))
            continue;
        --dwOwn;
        std::wstring line = L"  " + std::wstring(k.szType) + L" " + Num(k.wId) + L": " + Num(cb) +
                            L" bytes";
        // The packs of a cabinet resource, by name.
        if (k.wId == IDR_BINARY || k.wId == IDR_CORVEL) {
            ARCHIVELISTING listing = ListCabinetBytes(pb, cb);
            std::wstring names;
            for (const std::wstring& name : listing.files)
                names += L" " + name;
            line += listing.bComplete ? L":" + names : std::wstring(L" (not a whole cabinet)");
        }
        report.Line(line);
    }
    report.Line(L"  and " + Num(dwOwn) + L" of the launcher's own (icons, dialogs, strings ...)");
}

// Where a record's bytes are: in the package, beside it, or nowhere here.
struct BYTESAT {
    std::wstring file;
    ULONGLONG ullOffset = 0;
    bool bHere = false;
};

BYTESAT BytesOf(const std::wstring& package, const PAYLOADRECORD& r)
{
    BYTESAT at;
    if (r.TypeOfFile & TF_EMBEDDED) {
        at.file = package;
        at.ullOffset = r.DataOffSet;
        at.bHere = true;
    } else if (r.TypeOfFile & TF_EXTERNAL) {
        // As the launcher looks: under its own name, else under the
        // package's name with its extension (setup.exe + x.002: setup.002).
        size_t slash = package.find_last_of(L'\\');
        std::wstring out = FromAnsi(r.szFileOut);
        at.file = package.substr(0, slash + 1) + out;
        at.bHere = !out.empty() && IsFile(at.file);
        WCHAR szAlternate[MAX_PATH];
        if (!at.bHere && !out.empty() && package.size() < MAX_PATH) {
            wcscpy(szAlternate, package.c_str());
            if (PathRenameExtensionW(szAlternate, PathFindExtensionW(out.c_str())) &&
                IsFile(szAlternate)) {
                at.file = szAlternate;
                at.bHere = true;
            }
        }
    }
    return at;
}

}  // namespace

bool VerifyPackage(const std::wstring& package)
{
    Report report;
    HANDLE hFile = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        throw Failure{L"cannot read " + package};
    IMAGELAYOUT layout;
    if (!ReadImageLayout(hFile, &layout)) {
        CloseHandle(hFile);
        throw Failure{L"not a Windows program: " + package};
    }
    std::wstring arch = MachineOf(package);
    report.Line(package + L": " + Num(layout.ullFileSize) + L" bytes, " +
                (arch.empty() ? std::wstring(L"unknown") : arch) + L" launcher, image of " +
                Num(layout.ullImageEnd) + L" bytes");

    ResourceView view(package);
    ListResources(view, report);
    const BYTE* pbHashes = nullptr;
    DWORD cbHashes = 0;
    std::vector<ITEMHASH> hashes;
    bool bHashes = view.Get(ITEMHASH_RESOURCE_TYPE, static_cast<WORD>(ITEMHASH_RESOURCE_ID),
                            pbHashes, cbHashes);
    std::wstring why;
    if (bHashes && !ParseItemHashes(pbHashes, cbHashes, hashes, why)) {
        report.Problem(L"the hash resource is damaged: " + why);
        hashes.clear();
    }
    std::map<std::pair<uint32_t, uint32_t>, const ITEMHASH*> byItem;
    for (const ITEMHASH& entry : hashes)
        byItem[{entry.dwKind, entry.dwIndex}] = &entry;
    auto check = [&](uint32_t dwKind, uint32_t dwIndex, const std::wstring& file,
                     ULONGLONG ullOffset, ULONGLONG cb, bool bRequired) -> std::wstring {
        auto it = byItem.find({dwKind, dwIndex});
        if (it == byItem.end()) {
            if (bHashes && bRequired)
                report.Problem(L"no hash for this item in the hash resource");
            return bHashes && bRequired ? L"  no hash" : L"";
        }
        const ITEMHASH* entry = it->second;
        byItem.erase(it);
        if (file.empty())
            return L"  sha256 " + FromUtf8(HexOf(*reinterpret_cast<const DIGEST*>(entry->digest))) +
                   L" (not here to check)";
        if (entry->ullSize != cb) {
            report.Problem(L"the hash resource says " + Num(entry->ullSize) + L" bytes, not " +
                           Num(cb));
            return L"  size differs";
        }
        // A file beside the package may be anything.
        if (file != package && SizeOf(file) != cb) {
            report.Problem(file + L" is " + Num(SizeOf(file)) + L" bytes, not the " + Num(cb) +
                           L" the table records");
            return L"  size differs";
        }
        DIGEST digest = HashFileRange(file, ullOffset, cb);
        bool bSame = memcmp(digest.bytes, entry->digest, sizeof(digest.bytes)) == 0;
        if (!bSame)
            report.Problem(L"SHA-256 mismatch: the bytes are not the ones packed");
        return L"  sha256 " + FromUtf8(HexOf(digest)) + (bSame ? L" ok" : L" MISMATCH");
    };

    // The DATA resource, when there is one.
    const BYTE* pbData = nullptr;
    DWORD cbData = 0;
    if (view.Get(L"DATA", IDR_DATA, pbData, cbData)) {
        std::wstring status;
        auto it = byItem.find({ITEMHASH_KIND_DATA, 0});
        if (it != byItem.end()) {
            DIGEST digest = HashBytes(pbData, cbData);
            bool bSame = it->second->ullSize == cbData &&
                         memcmp(digest.bytes, it->second->digest, sizeof(digest.bytes)) == 0;
            status = L"  sha256 " + FromUtf8(HexOf(digest)) + (bSame ? L" ok" : L" MISMATCH");
            byItem.erase(it);
            report.Line(L"DATA resource: " + Num(cbData) + L" bytes" + status);
            if (!bSame)
                report.Problem(L"SHA-256 mismatch: the DATA resource is not the one packed");
        } else {
            report.Line(L"DATA resource: " + Num(cbData) + L" bytes");
            if (bHashes)
                report.Problem(L"no hash for the DATA resource in the hash resource");
        }
    }

    // The appended payload.
    DWORD dwOffset = 0;
    if (!CheckDataFile(package.c_str(), &dwOffset)) {
        report.Line(L"file table: none");
        if (CountDataAfterImage(hFile, layout))
            report.Problem(Num(CountDataAfterImage(hFile, layout)) +
                           L" bytes after the image are neither a file table nor a signature");
    } else {
        TableSink sink;
        DWORD dwResult = ReadPayloadTable(hFile, dwOffset, sink);
        ULONGLONG ullMagic = layout.ullFileSize - dwOffset;
        ULONGLONG ullTot = 0;
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(ullMagic - 12);
        DWORD cbRead = 0;
        SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN);
        if (!ReadFile(hFile, &ullTot, sizeof(ullTot), &cbRead, nullptr) || cbRead != sizeof(ullTot))
            ullTot = 0;
        report.Line(L"file table: " + Num(sink.m_dwNbFiles) + L" record(s), TotFilesSize " +
                    Num(ullTot) + L", magic at " + Num(ullMagic));
        if (dwResult != ERROR_SUCCESS)
            report.Problem(L"the file table cannot be read to its end (damaged, error " +
                           Num(dwResult) + L")");
        ULONGLONG ullTable = ullMagic - (PAYLOAD_HEADER_SIZE - PAYLOAD_MAGIC_SIZE);
        ULONGLONG ullSum = 0;
        for (const TABLERECORD& t : sink.m_records) {
            ullTable -= t.ullRecordSize;
            ullSum += t.record.FileSize;
        }
        ULONGLONG ullNext = layout.ullImageEnd;  // where the next data block must start
        // The COFF string table that names the launcher's debug-link section
        // may follow its sections: it is part of the image, not data.
        ULONGLONG ullFirst = ullTable;
        for (const TABLERECORD& t : sink.m_records)
            if ((t.record.TypeOfFile & TF_EMBEDDED) && t.record.DataOffSet < ullFirst)
                ullFirst = t.record.DataOffSet;
        DWORD cbStrings = 0;
        li.QuadPart = static_cast<LONGLONG>(ullNext);
        if (ullFirst > ullNext + sizeof(cbStrings) && SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN) &&
            ReadFile(hFile, &cbStrings, sizeof(cbStrings), &cbRead, nullptr) &&
            cbRead == sizeof(cbStrings) && cbStrings == ullFirst - ullNext)
            ullNext = ullFirst;
        for (size_t i = 0; i < sink.m_records.size(); ++i) {
            const PAYLOADRECORD& r = sink.m_records[i].record;
            std::wstring line = L"  #" + Num(i) + L" " + FromAnsi(r.szFile) + L"  " +
                                KindOf(r.TypeOfFile) + L"  " + Num(r.FileSize) + L" bytes";
            if (r.TypeOfFile & TF_EMBEDDED)
                line += L" at " + Num(r.DataOffSet);
            if (r.szFileOut[0])
                line += L"  -> " + FromAnsi(r.szFileOut);
            BYTESAT at = BytesOf(package, r);
            bool bRequired = (r.TypeOfFile & TF_EMBEDDED) ||
                             ((r.TypeOfFile & TF_EXTERNAL) && !(r.TypeOfFile & TF_WEB));
            std::vector<std::wstring> problems;
            if (r.TypeOfFile & TF_EMBEDDED) {
                if (r.DataOffSet != ullNext)
                    problems.push_back(L"its data starts at " + Num(r.DataOffSet) + L", not at " +
                                       Num(ullNext) + L" where the data before it ends");
                ullNext = r.DataOffSet + r.FileSize;
            } else if (r.DataOffSet) {
                problems.push_back(L"a record that is not embedded names an offset");
            }
            if ((r.TypeOfFile & TF_EXTERNAL) && !(r.TypeOfFile & TF_EMBEDDED) && !at.bHere) {
                if (r.TypeOfFile & TF_WEB)
                    line += L"  (on the web)";
                else
                    problems.push_back(L"not beside the package: " + at.file);
            }
            report.Line(line + check(ITEMHASH_KIND_RECORD, static_cast<uint32_t>(i),
                                     at.bHere ? at.file : L"", at.ullOffset, r.FileSize,
                                     bRequired));
            if (bHashes) {
                auto it = byItem.find({ITEMHASH_KIND_ENTRY, static_cast<uint32_t>(i)});
                uint8_t identity[ITEMHASH_IDENTITY_MAX];
                size_t cb = RecordIdentity(r.TypeOfFile, r.FileSize, r.szFile, r.szFileOut, identity);
                DIGEST digest = HashBytes(identity, static_cast<DWORD>(cb));
                if (it == byItem.end())
                    problems.push_back(L"no hash of the record itself in the hash resource");
                else if (it->second->ullSize != cb ||
                         memcmp(digest.bytes, it->second->digest, sizeof(digest.bytes)) != 0)
                    problems.push_back(L"the record's name, type or size is not the one packed");
                if (it != byItem.end())
                    byItem.erase(it);
            }
            for (const std::wstring& problem : problems)
                report.Problem(problem);
        }
        if (ullNext != ullTable)
            report.Problem(L"the data blocks end at " + Num(ullNext) + L", the file table starts at " +
                           Num(ullTable));
        if (ullSum != ullTot)
            report.Problem(L"the records' sizes sum to " + Num(ullSum) + L", not TotFilesSize " +
                           Num(ullTot));
        // After the magic: nothing, or the certificate table and its alignment.
        ULONGLONG ullEnd = ullMagic + PAYLOAD_MAGIC_SIZE;
        ULONGLONG ullTail = layout.bSigned ? layout.ullCertOffset : layout.ullFileSize;
        if (ullTail < ullEnd || ullTail - ullEnd >= (layout.bSigned ? CERT_ALIGNMENT : 1))
            report.Problem(Num(ullTail > ullEnd ? ullTail - ullEnd : 0) +
                           L" bytes between the magic and the end or the signature");
    }
    for (const auto& left : byItem)
        report.Problem(L"the hash resource names " +
                       (left.first.first == ITEMHASH_KIND_DATA ? std::wstring(L"a DATA resource")
                                                               : L"record #" + Num(left.first.second)) +
                       L", which the package does not have");
    if (!bHashes)
        report.Line(L"hashes: none (a package of an older packer): the items' bytes are not checked");
    else
        report.Line(L"hashes: " + Num(hashes.size()) + L" item(s)");

    ListSignature(hFile, layout, report);
    CloseHandle(hFile);
    if (report.Problems())
        report.Line(L"verify: FAILED, " + Num(report.Problems()) + L" problem(s)");
    else
        report.Line(L"verify: OK");
    return report.Problems() == 0;
}

}  // namespace packer
