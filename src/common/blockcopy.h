// The one loop that moves bytes in blocks: from a source (a file, memory, a
// network answer) into an open file, polling the cancel flag between blocks
// and telling an observer about every read and every write (the caller's
// trace lines and progress live there).
#pragma once
#include <windows.h>
#include "common/sha256.h"

enum : DWORD {
    COPY_BLOCK_SIZE = 1024 * 1024,
};

// Size to give CopyBlocks when the source decides where the data ends.
const ULONGLONG COPY_UNTIL_END = ~0ULL;

class IBlockSource {
public:
    virtual ~IBlockSource() {}
    // Reads up to cbWant bytes. TRUE with *pcbRead 0: the source has ended.
    // FALSE: the read failed (the thread's last error tells why).
    [[nodiscard]] virtual BOOL Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead) = 0;
};

// A file read from its current position.
class CFileSource : public IBlockSource {
public:
    explicit CFileSource(HANDLE hFile) : m_hFile(hFile) {}
    [[nodiscard]] BOOL Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead) override;

private:
    HANDLE m_hFile;
};

// Bytes already in memory (a resource).
class CMemorySource : public IBlockSource {
public:
    CMemorySource(const BYTE* pData, ULONGLONG cbData) : m_pData(pData), m_cbLeft(cbData) {}
    [[nodiscard]] BOOL Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead) override;

private:
    const BYTE* m_pData;
    ULONGLONG m_cbLeft;
};

// A source whose every block also goes into a SHA-256 (null: none), so that
// bytes are checked as they are copied, without a second read.
class CHashingSource : public IBlockSource {
public:
    CHashingSource(IBlockSource& inner, SHA256CONTEXT* pHash) : m_inner(inner), m_pHash(pHash) {}
    [[nodiscard]] BOOL Read(BYTE* pBuffer, DWORD cbWant, DWORD* pcbRead) override;

private:
    IBlockSource& m_inner;
    SHA256CONTEXT* m_pHash;
};

class IBlockObserver {
public:
    virtual ~IBlockObserver() {}
    // After each read: what was asked, what came, and what the copy still
    // expects afterwards (COPY_UNTIL_END when the source decides).
    virtual void OnRead(DWORD cbWant, DWORD cbRead, BOOL bOk, ULONGLONG ullLeft) {}
    // After each write of the block just read.
    virtual void OnWrite(DWORD cbWritten, BOOL bOk, ULONGLONG ullLeft) {}
};

enum class COPYRESULT {
    DONE,          // every byte asked for (or the source's end) was written
    SOURCE_ENDED,  // the source ended before the size asked for
    READ_FAILED,
    WRITE_FAILED,
    CANCELLED,
    NO_MEMORY,
};

// Copies ullSize bytes (or COPY_UNTIL_END) from source to hTarget's current
// position in blocks of at most cbBlock bytes. *pullCopied, when given,
// receives the bytes written.
[[nodiscard]] COPYRESULT CopyBlocks(IBlockSource& source, HANDLE hTarget, ULONGLONG ullSize,
                                    DWORD cbBlock, IBlockObserver* pObserver,
                                    ULONGLONG* pullCopied);

// TRUE when the next ullSize bytes of two open files, each from its current
// position, are the same. Used before a partial file is continued: only a
// part that provably matches its source is kept. The first file's bytes go
// into pFirstHash when given.
// WriteFile of all cb bytes. A write that takes fewer without an error is a
// full disk (112): the system's write stops short only there. 0, or the
// reason; *pcbWritten says how much went out.
[[nodiscard]] DWORD WriteAll(HANDLE hFile, const void* pData, DWORD cb, DWORD* pcbWritten);

[[nodiscard]] BOOL SameBlocks(HANDLE hFirst, HANDLE hSecond, ULONGLONG ullSize,
                              SHA256CONTEXT* pFirstHash = nullptr);

// An observer made of two callables, for callers that only trace.
template <class FRead, class FWrite>
class CBlockObserver : public IBlockObserver {
public:
    CBlockObserver(FRead onRead, FWrite onWrite) : m_onRead(onRead), m_onWrite(onWrite) {}
    void OnRead(DWORD cbWant, DWORD cbRead, BOOL bOk, ULONGLONG ullLeft) override
    {
        m_onRead(cbWant, cbRead, bOk, ullLeft);
    }
    void OnWrite(DWORD cbWritten, BOOL bOk, ULONGLONG ullLeft) override
    {
        m_onWrite(cbWritten, bOk, ullLeft);
    }

private:
    FRead m_onRead;
    FWrite m_onWrite;
};

template <class FRead, class FWrite>
CBlockObserver<FRead, FWrite> MakeBlockObserver(FRead onRead, FWrite onWrite)
{
    return CBlockObserver<FRead, FWrite>(onRead, onWrite);
}
