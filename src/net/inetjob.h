// The WinINet calls of one transfer that may block for long (waiting for an
// answer, reading a body, every FTP step) run on a thread of the transfer's
// own. The transfer waits for each call in short steps, reading the cancel
// flag, and gives up on a call that receives nothing for the stall limit.
//
// A blocked WinINet call can not be ended from outside on every system
// (under Wine closing its handle does not wake it), so a call given up on
// finishes alone: it touches only the job's memory and handles, and the
// job's thread closes the handles and frees the job once the transfer has
// let it go. The transfer never waits for that.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "net/inetapi.h"

enum class JOBWAIT {
    DONE,       // the step returned
    CANCELLED,  // the cancel flag was set first
    STALLED,    // nothing arrived for the stall limit
};

class CInetJob {
public:
    // Starts the job's thread. 0, or the reason it can not.
    [[nodiscard]] DWORD Start();
    // Runs Step(iStep) on the job's thread and waits for it. The stall clock
    // starts again whenever the step reports data (AddFilled). After
    // CANCELLED or STALLED the job is given up: later steps are not run and
    // return the same, the handles must not be used any more, and the bytes
    // the step had received stay readable (Filled()).
    [[nodiscard]] JOBWAIT Run(int iStep, DWORD dwStallMs);
    // Lets the job go: its thread ends when the running step (if any) has
    // returned, and frees the job. The caller must not touch it afterwards.
    void Finish();

    BOOL IsGivenUp();
    // The read buffer: each step starts it empty and fills it from the
    // start; the caller reads Filled() bytes once the step is over (or
    // given up). 0, or 14 (ERROR_OUTOFMEMORY) when it can not grow.
    [[nodiscard]] DWORD SetBufferSize(DWORD cb);
    BYTE* Buffer() const { return m_pBuffer; }
    DWORD Filled();

    // For calls the transfer makes itself between steps.
    const INETAPI* Api() const { return m_pApi; }
    // The silence after which the transfer fails.
    DWORD StallMs() const { return m_dwStallMs; }

    // Set by the transfer before a step: how many bytes a read step is to
    // bring at most, and with how many it may return early. Set by the
    // step: whether its call succeeded, the call's error, and whether the
    // data has ended. Read them only after DONE.
    DWORD m_cbWant;
    DWORD m_cbEnough;
    BOOL m_bOk;
    DWORD m_dwError;
    BOOL m_bEnded;

protected:
    CInetJob(const INETAPI* pApi, DWORD dwStallMs);
    virtual ~CInetJob();
    CInetJob(const CInetJob&) = delete;
    CInetJob& operator=(const CInetJob&) = delete;

    // On the job's thread.
    virtual void Step(int iStep) = 0;
    // A failed call: its error, never 0.
    void SetFailed(DWORD dwError);
    // Room left in the buffer, and the step's bytes added to it; FALSE when
    // the job has been given up (the bytes are then dropped).
    DWORD Room() const { return m_cbBuffer - m_cbFilled; }
    BYTE* FreeSpace() const { return m_pBuffer + m_cbFilled; }
    [[nodiscard]] BOOL AddFilled(DWORD cb);
    // One read of at most cbAsk bytes from hFile into the free room, added
    // to the buffer (*pcbRead). FALSE when the step ends here: the read
    // failed, the data ended, or the job was given up.
    [[nodiscard]] BOOL ReadSome(HINTERNET hFile, DWORD cbAsk, DWORD* pcbRead);

    const INETAPI* const m_pApi;

private:
    const DWORD m_dwStallMs;
    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void Loop();

    CRITICAL_SECTION m_cs;
    HANDLE m_hWake;   // a step or the end is asked for
    HANDLE m_hDone;   // the step returned
    int m_iStep;
    BOOL m_bFinish;
    BOOL m_bStarted;
    JOBWAIT m_givenUp;  // DONE while not given up
    volatile LONG m_lMoved;
    BYTE* m_pBuffer;
    DWORD m_cbBuffer;
    DWORD m_cbFilled;
};
