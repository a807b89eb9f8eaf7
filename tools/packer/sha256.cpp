#include "packer/sha256.h"
#include <vector>
#include "common/sha256.h"
#include "packer/packer.h"

namespace packer {
namespace {

const DWORD READ_BLOCK = 1024 * 1024;

}  // namespace

// The launcher's own SHA-256 (common/sha256): the package's hashes and the
// launcher's check of them come from one implementation.
CSha256::CSha256() : m_pContext(new SHA256CONTEXT)
{
    Sha256Init(*static_cast<SHA256CONTEXT*>(m_pContext));
}

CSha256::~CSha256()
{
    delete static_cast<SHA256CONTEXT*>(m_pContext);
}

void CSha256::Update(const void* pv, DWORD cb)
{
    Sha256Update(*static_cast<SHA256CONTEXT*>(m_pContext), pv, cb);
}

DIGEST CSha256::Finish()
{
    DIGEST digest = {};
    Sha256Final(*static_cast<SHA256CONTEXT*>(m_pContext), digest.bytes);
    return digest;
}

DIGEST HashFileRange(const std::wstring& path, ULONGLONG ullOffset, ULONGLONG cb)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        throw Failure{L"cannot read " + path};
    CSha256 sha;
    std::vector<BYTE> block(READ_BLOCK);
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(ullOffset);
    bool bOk = SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN) != FALSE;
    while (bOk && cb) {
        DWORD cbWant = cb < READ_BLOCK ? static_cast<DWORD>(cb) : READ_BLOCK;
        DWORD cbRead = 0;
        bOk = ReadFile(hFile, block.data(), cbWant, &cbRead, nullptr) && cbRead == cbWant;
        if (bOk) {
            sha.Update(block.data(), cbRead);
            cb -= cbRead;
        }
    }
    CloseHandle(hFile);
    if (!bOk)
        throw Failure{L"cannot read " + path};
    return sha.Finish();
}

DIGEST HashFile(const std::wstring& path, ULONGLONG& ullSize)
{
    ullSize = SizeOf(path);
    return HashFileRange(path, 0, ullSize);
}

DIGEST HashBytes(const void* pv, DWORD cb)
{
    CSha256 sha;
    sha.Update(pv, cb);
    return sha.Finish();
}

std::string HexOf(const DIGEST& digest)
{
    static const char HEX[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : digest.bytes) {
        text += HEX[b >> 4];
        text += HEX[b & 15];
    }
    return text;
}

}  // namespace packer
