#include "common/blockcopy.h"
#include "common/cancel.h"
#include "common/errors.h"

namespace {

// One block buffer per copy, released on every return.
class CBlockBuffer {
public:
    explicit CBlockBuffer(DWORD cb)
        : m_p(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1))), m_cb(cb ? cb : 1)
    {
    }
    ~CBlockBuffer()
    {
        if (m_p)
            HeapFree(GetProcessHeap(), 0, m_p);
    }
    CBlockBuffer(const CBlockBuffer&) = delete;
    CBlockBuffer& operator=(const CBlockBuffer&) = delete;
    BYTE* Get() const { return m_p; }
    DWORD Size() const { return m_cb; }

private:
    BYTE* m_p;
    DWORD m_cb;
};

}  // namespace

BOOL CFileSource::Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead)
{
    *pcbRead = 0;
    return ReadFile(m_hFile, pBuffer, cbWant, pcbRead, nullptr);
}

BOOL CHashingSource::Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead)
{
    BOOL bRead = m_inner.Read(pBuffer, cbWant, pcbRead);
    if (bRead && m_pHash && *pcbRead)
        Sha256Update(*m_pHash, pBuffer, *pcbRead);
    return bRead;
}

BOOL CMemorySource::Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead)
{
    DWORD cb = m_cbLeft < cbWant ? static_cast<DWORD>(m_cbLeft) : cbWant;
    CopyMemory(pBuffer, m_pData, cb);
    m_pData += cb;
    m_cbLeft -= cb;
    *pcbRead = cb;
    return TRUE;
}

COPYRESULT CopyBlocks(IBlockSource& source, HANDLE hTarget, ULONGLONG ullSize, DWORD cbBlock,
                      IBlockObserver* pObserver, ULONGLONG* pullCopied)
{
    IBlockObserver none;
    IBlockObserver& observer = pObserver ? *pObserver : none;
    const bool bUntilEnd = ullSize == COPY_UNTIL_END;
    ULONGLONG ullCopied = 0;
    if (pullCopied)
        *pullCopied = 0;
    if (cbBlock == 0)
        cbBlock = COPY_BLOCK_SIZE;
    // A small piece needs no full-sized buffer.
    CBlockBuffer buffer(ullSize < cbBlock ? static_cast<DWORD>(ullSize) : cbBlock);
    if (!buffer.Get())
        return COPYRESULT::NO_MEMORY;

    ULONGLONG ullLeft = ullSize;
    COPYRESULT result = COPYRESULT::DONE;
    while (bUntilEnd || ullLeft > 0) {
        if (IsCancelled()) {
            result = COPYRESULT::CANCELLED;
            break;
        }
        DWORD cbWant = (!bUntilEnd && ullLeft < buffer.Size()) ? static_cast<DWORD>(ullLeft)
                                                               : buffer.Size();
        DWORD cbRead = 0;
        BOOL bOk = source.Read(buffer.Get(), cbWant, &cbRead);
        DWORD dwReadError = GetLastError();
        if (bOk && !bUntilEnd)
            ullLeft -= cbRead;
        observer.OnRead(cbWant, cbRead, bOk, ullLeft);
        if (!bOk) {
            SetLastError(dwReadError);
            result = COPYRESULT::READ_FAILED;
            break;
        }
        if (cbRead == 0) {
            result = bUntilEnd ? COPYRESULT::DONE : COPYRESULT::SOURCE_ENDED;
            break;
        }
        DWORD cbWritten = 0;
        DWORD dwWriteError = WriteAll(hTarget, buffer.Get(), cbRead, &cbWritten);
        bOk = dwWriteError == ERROR_SUCCESS;
        ullCopied += cbWritten;
        if (pullCopied)
            *pullCopied = ullCopied;
        observer.OnWrite(cbWritten, bOk, ullLeft);
        if (!bOk) {
            SetLastError(dwWriteError);  // where the callers read the reason
            result = COPYRESULT::WRITE_FAILED;
            break;
        }
    }
    return result;
}

DWORD WriteAll(HANDLE hFile, const void* pData, DWORD cb, DWORD* pcbWritten)
{
    DWORD cbWritten = 0;
    BOOL bOk = WriteFile(hFile, pData, cb, &cbWritten, nullptr);
    DWORD dwError = bOk ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
    if (pcbWritten)
        *pcbWritten = cbWritten;
    if (bOk && cbWritten != cb)
        dwError = ERROR_DISK_FULL;
    return dwError;
}

BOOL SameBlocks(HANDLE hFirst, HANDLE hSecond, ULONGLONG ullSize, SHA256CONTEXT* pFirstHash)
{
    DWORD cbBlock = ullSize < COPY_BLOCK_SIZE ? static_cast<DWORD>(ullSize) : COPY_BLOCK_SIZE;
    CBlockBuffer first(cbBlock);
    CBlockBuffer second(cbBlock);
    if (!first.Get() || !second.Get())
        return FALSE;
    for (ULONGLONG ullLeft = ullSize; ullLeft > 0;) {
        if (IsCancelled())
            return FALSE;
        DWORD cbWant = ullLeft < cbBlock ? static_cast<DWORD>(ullLeft) : cbBlock;
        DWORD cbFirst = 0;
        DWORD cbSecond = 0;
        if (!ReadFile(hFirst, first.Get(), cbWant, &cbFirst, nullptr) ||
            !ReadFile(hSecond, second.Get(), cbWant, &cbSecond, nullptr) || cbFirst != cbWant ||
            cbSecond != cbWant || memcmp(first.Get(), second.Get(), cbWant) != 0)
            return FALSE;
        if (pFirstHash)
            Sha256Update(*pFirstHash, first.Get(), cbWant);
        ullLeft -= cbWant;
    }
    return TRUE;
}
