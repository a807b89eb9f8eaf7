// Cabinets: the CFHEADER and CFFILE records of the published format. ZIP:
// minizip's directory walk. PAC: the layout of payload/archivepac.h.
#include "packer/archivelist.h"
#include "common/capacity.h"
#include <string.h>
#include <unzip.h>
// iowin32.h needs the declarations of unzip.h first.
#include <iowin32.h>
#include "packer/packer.h"
#include "payload/archivepac.h"

namespace packer {
namespace {

const DWORD CAB_HEADER_SIZE = 36;
const WORD CAB_PREV_CABINET = 0x0001;
const WORD CAB_NEXT_CABINET = 0x0002;
const WORD CAB_RESERVE_PRESENT = 0x0004;
const WORD CAB_NAME_IS_UTF = 0x80;
const DWORD CAB_FILE_FIXED = 16;  // a CFFILE record without its name
const DWORD CAB_NAME_MAX = 256;   // with its terminator
const unsigned long ZIP_FLAG_UTF8 = 0x800;

// Bytes to read from: a file, or a block in memory.
class ByteSource {
public:
    virtual ~ByteSource() {}
    virtual ULONGLONG Size() const = 0;
    // Exactly cb bytes at ullOffset, never past the end.
    virtual bool Read(ULONGLONG ullOffset, void* pv, DWORD cb) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const BYTE* pb, size_t cb) : m_pb(pb), m_cb(cb) {}
    ULONGLONG Size() const override { return m_cb; }
    bool Read(ULONGLONG ullOffset, void* pv, DWORD cb) override
    {
        if (ullOffset > m_cb || cb > m_cb - ullOffset)
            return false;
        memcpy(pv, m_pb + ullOffset, cb);
        return true;
    }

private:
    const BYTE* m_pb;
    size_t m_cb;
};

class ReadOnlyFile : public ByteSource {
public:
    explicit ReadOnlyFile(const std::wstring& path)
    {
        m_h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER li = {};
        if (m_h != INVALID_HANDLE_VALUE && GetFileSizeEx(m_h, &li))
            m_ullSize = static_cast<ULONGLONG>(li.QuadPart);
    }
    ~ReadOnlyFile()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ULONGLONG Size() const override { return m_ullSize; }
    bool Read(ULONGLONG ullOffset, void* pv, DWORD cb) override
    {
        if (m_h == INVALID_HANDLE_VALUE || ullOffset > m_ullSize || cb > m_ullSize - ullOffset)
            return false;
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(ullOffset);
        DWORD cbRead = 0;
        return SetFilePointerEx(m_h, li, nullptr, FILE_BEGIN) &&
               ReadFile(m_h, pv, cb, &cbRead, nullptr) && cbRead == cb;
    }

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
    ULONGLONG m_ullSize = 0;
};

WORD U16(const BYTE* p)
{
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

DWORD U32(const BYTE* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

std::wstring Decode(const std::string& name, UINT uCodePage)
{
    if (name.empty())
        return std::wstring();
    int cch = MultiByteToWideChar(uCodePage, 0, name.data(), static_cast<int>(name.size()),
                                  nullptr, 0);
    std::wstring out(cch > 0 ? static_cast<size_t>(cch) : 0, L'\0');
    if (cch > 0)
        MultiByteToWideChar(uCodePage, 0, name.data(), static_cast<int>(name.size()), &out[0], cch);
    for (wchar_t& c : out)
        if (c == L'/')
            c = L'\\';
    return out;
}

void ListCabinet(ByteSource& file, ARCHIVELISTING& listing)
{
    BYTE header[CAB_HEADER_SIZE];
    if (!file.Read(0, header, sizeof(header)))
        return;
    DWORD coffFiles = U32(header + 16);
    WORD cFiles = U16(header + 28);
    WORD flags = U16(header + 30);
    // One piece of a set holds only part of the members.
    if (flags & (CAB_PREV_CABINET | CAB_NEXT_CABINET))
        return;
    ULONGLONG ullAt = coffFiles;
    for (WORD i = 0; i < cFiles; ++i) {
        BYTE fixed[CAB_FILE_FIXED];
        char szName[CAB_NAME_MAX];
        if (!file.Read(ullAt, fixed, sizeof(fixed)))
            return;
        ullAt += sizeof(fixed);
        DWORD cbName = static_cast<DWORD>(
            file.Size() - ullAt < CAB_NAME_MAX ? file.Size() - ullAt : CAB_NAME_MAX);
        if (!file.Read(ullAt, szName, cbName))
            return;
        size_t cch = strnlen(szName, cbName);
        if (cch == cbName)
            return;  // no terminator within the format's limit
        ullAt += cch + 1;
        std::string name(szName, cch);
        // An empty folder travels as an empty member ending in "\".
        if (name.empty() || name.back() == '\\' || name.back() == '/')
            continue;
        listing.files.push_back(Decode(name, (U16(fixed + 14) & CAB_NAME_IS_UTF) ? CP_UTF8 : CP_ACP));
    }
    listing.bComplete = true;
}

void ListZip(const std::wstring& path, ARCHIVELISTING& listing)
{
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    unzFile zip = unzOpen2_64(path.c_str(), &functions);
    if (!zip)
        return;
    bool bOk = true;
    for (int r = unzGoToFirstFile(zip); r == UNZ_OK; r = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        char szName[PATH_CCH];
        if (unzGetCurrentFileInfo64(zip, &info, szName, sizeof(szName), nullptr, 0, nullptr, 0) !=
                UNZ_OK ||
            info.size_filename >= sizeof(szName)) {
            bOk = false;
            break;
        }
        std::string name(szName, info.size_filename);
        if (name.empty() || name.back() == '/' || name.back() == '\\')
            continue;
        listing.files.push_back(Decode(name, (info.flag & ZIP_FLAG_UTF8) ? CP_UTF8 : CP_OEMCP));
    }
    unzClose(zip);
    listing.bComplete = bOk;
}

void ListPac(ByteSource& file, ARCHIVELISTING& listing)
{
    ULONGLONG ullAt = pac::HEADER_SIZE + sizeof(pac::LAYOUT_MAGIC);
    BYTE count[4];
    if (!file.Read(ullAt, count, sizeof(count)))
        return;
    ullAt += sizeof(count);
    DWORD dwCount = U32(count);
    for (DWORD i = 0; i < dwCount; ++i) {
        BYTE cbName[2];
        char szName[pac::NAME_MAX + 1];
        BYTE size[8];
        if (!file.Read(ullAt, cbName, sizeof(cbName)) || U16(cbName) == 0 ||
            U16(cbName) > pac::NAME_MAX || !file.Read(ullAt + 2, szName, U16(cbName)) ||
            !file.Read(ullAt + 2 + U16(cbName), size, sizeof(size)))
            return;
        ULONGLONG ullSize = U32(size) | (static_cast<ULONGLONG>(U32(size + 4)) << 32);
        ullAt += 2 + U16(cbName) + sizeof(size) + 4;
        if (ullSize > file.Size() - (ullAt < file.Size() ? ullAt : file.Size()))
            return;
        ullAt += ullSize;
        listing.files.push_back(Decode(std::string(szName, U16(cbName)), CP_ACP));
    }
    listing.bComplete = true;
}

}  // namespace

ARCHIVELISTING ListCabinetBytes(const BYTE* pb, size_t cb)
{
    ARCHIVELISTING listing;
    MemorySource source(pb, cb);
    if (cb >= 4 && memcmp(pb, "MSCF", 4) == 0) {
        listing.kind = ArchiveKind::Cabinet;
        ListCabinet(source, listing);
    }
    return listing;
}

ARCHIVELISTING ListArchive(const std::wstring& path)
{
    ARCHIVELISTING listing;
    ReadOnlyFile file(path);
    BYTE head[pac::HEADER_SIZE + sizeof(pac::LAYOUT_MAGIC)] = {};
    DWORD cbHead = static_cast<DWORD>(file.Size() < sizeof(head) ? file.Size() : sizeof(head));
    if (!file.Read(0, head, cbHead))
        return listing;
    if (cbHead >= 4 && memcmp(head, "MSCF", 4) == 0) {
        listing.kind = ArchiveKind::Cabinet;
        ListCabinet(file, listing);
    } else if (cbHead >= 4 && memcmp(head, "PK\x03\x04", 4) == 0) {
        listing.kind = ArchiveKind::Zip;
        ListZip(path, listing);
    } else if (cbHead == sizeof(head) && memcmp(head, pac::HEADER, pac::HEADER_SIZE) == 0 &&
               memcmp(head + pac::HEADER_SIZE, pac::LAYOUT_MAGIC, sizeof(pac::LAYOUT_MAGIC)) == 0) {
        listing.kind = ArchiveKind::Pac;
        ListPac(file, listing);
    }
    return listing;
}

}  // namespace packer
