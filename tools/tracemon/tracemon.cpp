// tracemon: receives the launcher's diagnostic trace. It creates the
// "TMonitor" window that every trace call looks for and prints each line it
// is sent, or appends it to a file.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

const wchar_t kHelp[] =
    L"tracemon - receives the diagnostic trace of Stowaway launchers\n"
    L"\n"
    L"usage: tracemon [--out FILE] [--stamp] [--seconds N] [--until-file PATH]\n"
    L"                [--ready-file PATH]\n"
    L"\n"
    L"  --out FILE         append every line to FILE instead of printing it\n"
    L"  --stamp            begin every line with the time it arrived, hh:mm:ss.mmm\n"
    L"  --seconds N        stop after N seconds\n"
    L"  --until-file PATH  stop as soon as PATH exists\n"
    L"  --ready-file PATH  create PATH once the monitor window is listening\n"
    L"  --help             show this text\n"
    L"\n"
    L"Start tracemon before the launcher: a launcher looks for the monitor\n"
    L"once, at its first trace line. Stop it with Ctrl+C.\n";

FILE* g_out = stdout;
bool g_stamp;
volatile LONG g_stop;

LRESULT CALLBACK MonitorProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (cds && cds->lpData && cds->cbData > 0) {
            const char* text = static_cast<const char*>(cds->lpData);
            // The sender waits for the answer, so arrival is when it traced.
            if (g_stamp) {
                SYSTEMTIME st;
                GetLocalTime(&st);
                fprintf(g_out, "%02u:%02u:%02u.%03u ", st.wHour, st.wMinute, st.wSecond,
                        st.wMilliseconds);
            }
            fwrite(text, 1, strnlen(text, cds->cbData), g_out);
            fputc('\n', g_out);
            fflush(g_out);
        }
        return TRUE;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

BOOL WINAPI OnConsoleCtrl(DWORD)
{
    InterlockedExchange(&g_stop, 1);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* outFile = nullptr;
    const wchar_t* untilFile = nullptr;
    const wchar_t* readyFile = nullptr;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (!wcscmp(arg, L"--help") || !wcscmp(arg, L"-h") || !wcscmp(arg, L"/?")) {
            fputws(kHelp, stdout);
            return 0;
        } else if (!wcscmp(arg, L"--out") && hasValue) {
            outFile = argv[++i];
        } else if (!wcscmp(arg, L"--stamp")) {
            g_stamp = true;
        } else if (!wcscmp(arg, L"--until-file") && hasValue) {
            untilFile = argv[++i];
        } else if (!wcscmp(arg, L"--ready-file") && hasValue) {
            readyFile = argv[++i];
        } else if (!wcscmp(arg, L"--seconds") && hasValue) {
            wchar_t* end = nullptr;
            seconds = wcstol(argv[++i], &end, 10);
            if (!end || *end || seconds <= 0) {
                fwprintf(stderr, L"tracemon: --seconds takes a positive whole number\n");
                return 2;
            }
        } else {
            fwprintf(stderr, L"tracemon: unknown or incomplete option '%ls' (see --help)\n", arg);
            return 2;
        }
    }

    if (outFile) {
        g_out = _wfopen(outFile, L"ab");
        if (!g_out) {
            fwprintf(stderr, L"tracemon: cannot open '%ls' for appending\n", outFile);
            return 1;
        }
    }

    HINSTANCE hInst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = MonitorProc;
    wc.hInstance = hInst;
    wc.lpszClassName = L"TMonitor";
    if (!RegisterClassW(&wc)) {
        fwprintf(stderr, L"tracemon: cannot register the window class (%lu)\n", GetLastError());
        return 1;
    }
    // A hidden top-level window: trace calls find it by title or class.
    HWND hWnd = CreateWindowExW(0, L"TMonitor", L"TMonitor", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                nullptr, hInst, nullptr);
    if (!hWnd) {
        fwprintf(stderr, L"tracemon: cannot create the monitor window (%lu)\n", GetLastError());
        return 1;
    }
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
    if (readyFile) {
        HANDLE h = CreateFileW(readyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }

    ULONGLONG start = GetTickCount64();
    while (!g_stop) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                g_stop = 1;
            DispatchMessageW(&msg);
        }
        if (seconds > 0 && GetTickCount64() - start >= static_cast<ULONGLONG>(seconds) * 1000)
            break;
        if (untilFile && GetFileAttributesW(untilFile) != INVALID_FILE_ATTRIBUTES)
            break;
    }
    // Lines sent while we were deciding to stop are still delivered.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    DestroyWindow(hWnd);
    if (g_out != stdout)
        fclose(g_out);
    return 0;
}
