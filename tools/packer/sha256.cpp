#include "packer/sha256.h"
#include <bcrypt.h>
#include <vector>
#include "packer/packer.h"

namespace packer {
namespace {

const DWORD READ_BLOCK = 1024 * 1024;

bool Ok(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

CSha256::CSha256() : m_hAlgorithm(nullptr), m_hHash(nullptr)
{
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (!Ok(BCryptOpenAlgorithmProvider(&hAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        throw Failure{L"the system offers no SHA-256 (BCrypt)"};
    if (!Ok(BCryptCreateHash(hAlgorithm, &hHash, nullptr, 0, nullptr, 0, 0))) {
        BCryptCloseAlgorithmProvider(hAlgorithm, 0);
        throw Failure{L"cannot start a SHA-256 hash (BCrypt)"};
    }
    m_hAlgorithm = hAlgorithm;
    m_hHash = hHash;
}

CSha256::~CSha256()
{
    if (m_hHash)
        BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_hHash));
    if (m_hAlgorithm)
        BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(m_hAlgorithm), 0);
}

void CSha256::Update(const void* pv, DWORD cb)
{
    if (cb && !Ok(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(m_hHash),
                                 static_cast<PUCHAR>(const_cast<void*>(pv)), cb, 0)))
        throw Failure{L"SHA-256 hashing failed (BCrypt)"};
}

DIGEST CSha256::Finish()
{
    DIGEST digest = {};
    if (!Ok(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(m_hHash), digest.bytes,
                             sizeof(digest.bytes), 0)))
        throw Failure{L"SHA-256 hashing failed (BCrypt)"};
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
