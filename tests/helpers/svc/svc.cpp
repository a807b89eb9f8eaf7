// A test service: runs under the service control manager until it is told
// to stop. The service name comes from the command line that CreateService
// recorded (first argument), so one program can stand for several services.
#include <windows.h>

namespace {

WCHAR g_szName[128] = L"StowawayTestSvc";
SERVICE_STATUS_HANDLE g_hStatus;
SERVICE_STATUS g_status;
HANDLE g_hStop;

void Report(DWORD dwState, DWORD dwWaitHint)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = dwState;
    g_status.dwControlsAccepted = dwState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = dwWaitHint;
    if (dwState == SERVICE_RUNNING || dwState == SERVICE_STOPPED)
        g_status.dwCheckPoint = 0;
    else
        ++g_status.dwCheckPoint;
    SetServiceStatus(g_hStatus, &g_status);
}

DWORD WINAPI Handler(DWORD dwControl, DWORD, void*, void*)
{
    switch (dwControl) {
    case SERVICE_CONTROL_STOP:
        Report(SERVICE_STOP_PENDING, 3000);
        SetEvent(g_hStop);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        SetServiceStatus(g_hStatus, &g_status);
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    g_hStatus = RegisterServiceCtrlHandlerExW(g_szName, Handler, nullptr);
    if (!g_hStatus)
        return;
    g_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_START_PENDING, 3000);
    Sleep(300);  // a visible start-pending phase
    Report(SERVICE_RUNNING, 0);
    WaitForSingleObject(g_hStop, INFINITE);
    Sleep(300);  // and a visible stop-pending one
    Report(SERVICE_STOPPED, 0);
    CloseHandle(g_hStop);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1)
        lstrcpynW(g_szName, argv[1], ARRAYSIZE(g_szName));
    SERVICE_TABLE_ENTRYW table[] = {{g_szName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
