#include "net/inetjob.h"
#include "common/cancel.h"
#include "common/errors.h"
#include "common/lock.h"

namespace {

// How often a waiting transfer looks at the cancel flag.
const DWORD POLL_MS = 100;

}  // namespace

CInetJob::CInetJob(const INETAPI* pApi, DWORD dwStallMs)
    : m_cbWant(0),
      m_cbEnough(0),
      m_bOk(TRUE),
      m_dwError(0),
      m_bEnded(FALSE),
      m_pApi(pApi),
      m_dwStallMs(dwStallMs),
      m_hWake(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_hDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_iStep(0),
      m_bFinish(FALSE),
      m_bStarted(FALSE),
      m_givenUp(JOBWAIT::DONE),
      m_lMoved(0),
      m_pBuffer(nullptr),
      m_cbBuffer(0),
      m_cbFilled(0)
{
    InitializeCriticalSection(&m_cs);
}

CInetJob::~CInetJob()
{
    if (m_pBuffer)
        HeapFree(GetProcessHeap(), 0, m_pBuffer);
    if (m_hWake)
        CloseHandle(m_hWake);
    if (m_hDone)
        CloseHandle(m_hDone);
    DeleteCriticalSection(&m_cs);
}

DWORD CInetJob::Start()
{
    if (!m_hWake || !m_hDone)
        return ERROR_NOT_ENOUGH_MEMORY;
    HANDLE hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (!hThread)
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    CloseHandle(hThread);
    m_bStarted = TRUE;
    return ERROR_SUCCESS;
}

DWORD WINAPI CInetJob::ThreadProc(LPVOID pParam)
{
    static_cast<CInetJob*>(pParam)->Loop();
    return 0;
}

void CInetJob::Loop()
{
    for (;;) {
        WaitForSingleObject(m_hWake, INFINITE);
        int iStep = 0;
        {
            CLock lock(m_cs);
            if (m_bFinish)
                break;
            iStep = m_iStep;
        }
        if (!IsGivenUp()) {
            m_bOk = TRUE;
            m_dwError = 0;
            m_bEnded = FALSE;
            Step(iStep);
        }
        SetEvent(m_hDone);
    }
    // The transfer has let the job go: the handles close here, on this
    // thread, however long that takes.
    delete this;
}

JOBWAIT CInetJob::Run(int iStep, DWORD dwStallMs)
{
    {
        CLock lock(m_cs);
        if (m_givenUp != JOBWAIT::DONE)
            return m_givenUp;
        m_iStep = iStep;
        m_cbFilled = 0;
    }
    ResetEvent(m_hDone);
    SetEvent(m_hWake);
    LONG lSeen = m_lMoved;
    DWORD dwQuietSince = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(m_hDone, POLL_MS) == WAIT_OBJECT_0)
            return JOBWAIT::DONE;
        JOBWAIT wait = JOBWAIT::DONE;
        LONG lMoved = m_lMoved;
        if (IsCancelled()) {
            wait = JOBWAIT::CANCELLED;
        } else if (lMoved != lSeen) {
            lSeen = lMoved;
            dwQuietSince = GetTickCount();
        } else if (GetTickCount() - dwQuietSince >= dwStallMs) {
            wait = JOBWAIT::STALLED;
        }
        if (wait != JOBWAIT::DONE) {
            CLock lock(m_cs);
            m_givenUp = wait;
            return wait;
        }
    }
}

void CInetJob::Finish()
{
    if (!m_bStarted) {
        delete this;
        return;
    }
    {
        CLock lock(m_cs);
        m_bFinish = TRUE;
    }
    SetEvent(m_hWake);
}

BOOL CInetJob::IsGivenUp()
{
    CLock lock(m_cs);
    return m_givenUp != JOBWAIT::DONE;
}

DWORD CInetJob::SetBufferSize(DWORD cb)
{
    if (cb <= m_cbBuffer)
        return ERROR_SUCCESS;
    BYTE* p = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, cb));
    if (!p)
        return ERROR_OUTOFMEMORY;
    if (m_pBuffer)
        HeapFree(GetProcessHeap(), 0, m_pBuffer);
    m_pBuffer = p;
    m_cbBuffer = cb;
    return ERROR_SUCCESS;
}

DWORD CInetJob::Filled()
{
    CLock lock(m_cs);
    return m_cbFilled;
}

BOOL CInetJob::AddFilled(DWORD cb)
{
    CLock lock(m_cs);
    if (m_givenUp != JOBWAIT::DONE)
        return FALSE;
    m_cbFilled += cb;
    InterlockedIncrement(&m_lMoved);
    return TRUE;
}

BOOL CInetJob::ReadSome(HINTERNET hFile, DWORD cbAsk, DWORD* pcbRead)
{
    *pcbRead = 0;
    if (!m_pApi->pInternetReadFile(hFile, FreeSpace(), cbAsk, pcbRead)) {
        SetFailed(GetLastError());
        return FALSE;
    }
    if (*pcbRead == 0) {
        m_bEnded = TRUE;
        return FALSE;
    }
    return AddFilled(*pcbRead);
}

void CInetJob::SetFailed(DWORD dwError)
{
    m_bOk = FALSE;
    m_dwError = dwError ? dwError : ERROR_INTERNET_INTERNAL_ERROR;
}
