// PAC archives in the layout QELTRON.dll reads.
#include <zlib.h>
#include "packer.h"
#include "payload/archivepac.h"

namespace packer {
namespace {

class OutFile {
public:
    explicit OutFile(const std::wstring& path) : m_path(path)
    {
        m_h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_h == INVALID_HANDLE_VALUE)
            throw Failure{L"cannot create " + path};
    }
    ~OutFile()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    void Write(const void* pv, DWORD cb)
    {
        DWORD cbWritten = 0;
        if (!WriteFile(m_h, pv, cb, &cbWritten, nullptr) || cbWritten != cb)
            throw Failure{L"cannot write " + m_path};
    }

private:
    std::wstring m_path;
    HANDLE m_h;
};

// Reads a whole file in blocks, handing each to fn.
template <typename Fn>
void ForEachBlock(const std::wstring& path, Fn fn)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw Failure{L"cannot read " + path};
    std::vector<BYTE> block(1024 * 1024);
    DWORD cb = 0;
    BOOL bOk;
    while ((bOk = ReadFile(h, block.data(), static_cast<DWORD>(block.size()), &cb, nullptr)) && cb)
        fn(block.data(), cb);
    CloseHandle(h);
    if (!bOk)
        throw Failure{L"cannot read " + path};
}

}  // namespace

void MakePac(const std::wstring& folder, const std::wstring& out)
{
    if (!IsFolder(folder))
        throw Failure{L"no such folder: " + folder};
    std::vector<std::wstring> files = ListFolder(folder);
    std::vector<std::string> names;
    bool bAscii = true;
    for (const std::wstring& rel : files) {
        names.push_back(ToUtf8(rel));
        if (names.back().empty() || names.back().size() > pac::NAME_MAX)
            throw Failure{L"a name does not fit a PAC archive: " + rel};
        bAscii = bAscii && IsAsciiText(names.back());
    }
    OutFile file(out);
    file.Write(pac::HEADER, pac::HEADER_SIZE);
    file.Write(bAscii ? pac::LAYOUT_MAGIC : pac::LAYOUT_MAGIC_UTF8, sizeof(pac::LAYOUT_MAGIC));
    DWORD dwCount = static_cast<DWORD>(files.size());
    file.Write(&dwCount, sizeof(dwCount));
    for (size_t i = 0; i < files.size(); ++i) {
        const std::wstring& rel = files[i];
        const std::string& name = names[i];
        std::wstring path = folder + L"\\" + rel;
        ULONGLONG ullSize = SizeOf(path);
        uLong crc = crc32(0L, Z_NULL, 0);
        ForEachBlock(path, [&](const BYTE* p, DWORD cb) { crc = crc32(crc, p, cb); });
        WORD cbName = static_cast<WORD>(name.size());
        DWORD dwCrc = static_cast<DWORD>(crc);
        file.Write(&cbName, sizeof(cbName));
        file.Write(name.data(), cbName);
        file.Write(&ullSize, sizeof(ullSize));
        file.Write(&dwCrc, sizeof(dwCrc));
        ULONGLONG ullCopied = 0;
        ForEachBlock(path, [&](const BYTE* p, DWORD cb) {
            file.Write(p, cb);
            ullCopied += cb;
        });
        if (ullCopied != ullSize)
            throw Failure{L"a file changed while it was packed: " + path};
    }
}

}  // namespace packer
