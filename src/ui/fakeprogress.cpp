#include "ui/fakeprogress.h"
#include <uxtheme.h>
#include "common/lock.h"
#include "common/sysdll.h"
#include "common/trace.h"

namespace {

// Parts and metrics of the "Progress" theme class.
const int PROGRESS_PART_BAR = 1;
const int PROGRESS_PART_CHUNK = 3;
const int METRIC_CHUNK_SIZE = 2411;
const int METRIC_SPACE_SIZE = 2412;
const UINT_PTR ANIMATION_TIMER_ID = 1;
const int CLASSIC_SPACING = 2;

typedef HTHEME(WINAPI* PFN_OPENTHEMEDATA)(HWND, LPCWSTR);
typedef HRESULT(WINAPI* PFN_CLOSETHEMEDATA)(HTHEME);
typedef BOOL(WINAPI* PFN_ISTHEMEACTIVE)();
typedef HRESULT(WINAPI* PFN_DRAWTHEMEBACKGROUND)(HTHEME, HDC, int, int, LPCRECT, LPCRECT);
typedef HRESULT(WINAPI* PFN_GETTHEMEBACKGROUNDCONTENTRECT)(HTHEME, HDC, int, int, LPCRECT,
                                                            LPRECT);
typedef HRESULT(WINAPI* PFN_GETTHEMEMETRIC)(HTHEME, HDC, int, int, int, int*);
typedef BOOL(WINAPI* PFN_ALPHABLEND)(HDC, int, int, int, int, HDC, int, int, int, int,
                                     BLENDFUNCTION);

// Theme and blending functions, looked up in the system folder on first use.
struct UXTHEMEFUNCS {
    PFN_OPENTHEMEDATA pOpenThemeData;
    PFN_CLOSETHEMEDATA pCloseThemeData;
    PFN_ISTHEMEACTIVE pIsThemeActive;
    PFN_DRAWTHEMEBACKGROUND pDrawThemeBackground;
    PFN_GETTHEMEBACKGROUNDCONTENTRECT pGetThemeBackgroundContentRect;
    PFN_GETTHEMEMETRIC pGetThemeMetric;
    PFN_ALPHABLEND pAlphaBlend;
};

UXTHEMEFUNCS g_ThemeApi;
volatile LONG g_lThemeApiState;  // 0 not loaded, 1 loading, 2 ready

template <typename T>
T LookUp(HMODULE hModule, const char* szName)
{
    if (!hModule)
        return nullptr;
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, szName)));
}

const UXTHEMEFUNCS& ThemeApi()
{
    if (InterlockedCompareExchange(&g_lThemeApiState, 1, 0) == 0) {
        HMODULE hUxTheme = LoadSystemLibrary(L"UxTheme.dll");
        HMODULE hMsimg32 = LoadSystemLibrary(L"msimg32.dll");
        UXTHEMEFUNCS api = {};
        api.pOpenThemeData = LookUp<PFN_OPENTHEMEDATA>(hUxTheme, "OpenThemeData");
        api.pCloseThemeData = LookUp<PFN_CLOSETHEMEDATA>(hUxTheme, "CloseThemeData");
        api.pIsThemeActive = LookUp<PFN_ISTHEMEACTIVE>(hUxTheme, "IsThemeActive");
        api.pDrawThemeBackground =
            LookUp<PFN_DRAWTHEMEBACKGROUND>(hUxTheme, "DrawThemeBackground");
        api.pGetThemeBackgroundContentRect = LookUp<PFN_GETTHEMEBACKGROUNDCONTENTRECT>(
            hUxTheme, "GetThemeBackgroundContentRect");
        api.pGetThemeMetric = LookUp<PFN_GETTHEMEMETRIC>(hUxTheme, "GetThemeMetric");
        api.pAlphaBlend = LookUp<PFN_ALPHABLEND>(hMsimg32, "AlphaBlend");
        DebugTrace(L"FakeProgress()->UxTheme=%d AlphaBlend=%d", hUxTheme != nullptr,
                   api.pAlphaBlend != nullptr);
        g_ThemeApi = api;
        InterlockedExchange(&g_lThemeApiState, 2);
    } else {
        while (g_lThemeApiState != 2)
            Sleep(0);
    }
    return g_ThemeApi;
}

HTHEME FpOpenThemeData(HWND hWnd, LPCWSTR szClass)
{
    const UXTHEMEFUNCS& api = ThemeApi();
    return api.pOpenThemeData ? api.pOpenThemeData(hWnd, szClass) : nullptr;
}

HRESULT FpCloseThemeData(HTHEME hTheme)
{
    const UXTHEMEFUNCS& api = ThemeApi();
    return api.pCloseThemeData ? api.pCloseThemeData(hTheme) : E_FAIL;
}

BOOL FpIsThemeActive()
{
    const UXTHEMEFUNCS& api = ThemeApi();
    return api.pIsThemeActive ? api.pIsThemeActive() : FALSE;
}

HRESULT FpDrawThemeBackground(HTHEME hTheme, HDC hdc, int iPart, int iState, LPCRECT pRect)
{
    const UXTHEMEFUNCS& api = ThemeApi();
    return api.pDrawThemeBackground ? api.pDrawThemeBackground(hTheme, hdc, iPart, iState, pRect,
                                                               nullptr)
                                    : E_FAIL;
}

HRESULT FpGetThemeBackgroundContentRect(HTHEME hTheme, HDC hdc, int iPart, int iState,
                                        LPCRECT pBounds, LPRECT pContent)
{
    const UXTHEMEFUNCS& api = ThemeApi();
    return api.pGetThemeBackgroundContentRect
               ? api.pGetThemeBackgroundContentRect(hTheme, hdc, iPart, iState, pBounds, pContent)
               : E_FAIL;
}

HRESULT FpGetThemeMetric(HTHEME hTheme, HDC hdc, int iPart, int iState, int iProp, int* piVal)
{
    const UXTHEMEFUNCS& api = ThemeApi();
    return api.pGetThemeMetric ? api.pGetThemeMetric(hTheme, hdc, iPart, iState, iProp, piVal)
                               : E_FAIL;
}

// One per control, pointer in the window's extra bytes.
struct FAKEPROGRESS {
    HWND hWnd;
    int iIndex;          // head block, -1 = before the start
    UINT uInterval;      // milliseconds
    UINT uBlocks;
    HTHEME hTheme;
    CRITICAL_SECTION cs;
    HANDLE hThread;
    HANDLE hStopEvent;
    DWORD dwThreadId;
    UINT_PTR uTimer;
};

FAKEPROGRESS* GetState(HWND hWnd)
{
    return reinterpret_cast<FAKEPROGRESS*>(GetWindowLongPtrW(hWnd, 0));
}

// Draws the chunk part into a bitmap over the background it covers, then
// blends it onto the frame with the block's transparency.
void DrawThemedBlock(FAKEPROGRESS* pState, HDC hdc, const RECT& rcBlock, int cxVisible,
                     BYTE byAlpha)
{
    int cx = rcBlock.right - rcBlock.left;
    int cy = rcBlock.bottom - rcBlock.top;
    HDC hdcBlock = CreateCompatibleDC(hdc);
    HBITMAP hbm = CreateCompatibleBitmap(hdc, cx, cy);
    if (!hdcBlock || !hbm) {
        if (hbm)
            DeleteObject(hbm);
        if (hdcBlock)
            DeleteDC(hdcBlock);
        return;
    }
    HGDIOBJ hOld = SelectObject(hdcBlock, hbm);
    BitBlt(hdcBlock, 0, 0, cx, cy, hdc, rcBlock.left, rcBlock.top, SRCCOPY);
    RECT rcChunk = {0, 0, cx, cy};
    FpDrawThemeBackground(pState->hTheme, hdcBlock, PROGRESS_PART_CHUNK, 0, &rcChunk);
    const UXTHEMEFUNCS& api = ThemeApi();
    if (api.pAlphaBlend) {
        BLENDFUNCTION bf = {AC_SRC_OVER, 0, byAlpha, 0};
        api.pAlphaBlend(hdc, rcBlock.left, rcBlock.top, cxVisible, cy, hdcBlock, 0, 0, cxVisible,
                        cy, bf);
    } else {
        BitBlt(hdc, rcBlock.left, rcBlock.top, cxVisible, cy, hdcBlock, 0, 0, SRCCOPY);
    }
    SelectObject(hdcBlock, hOld);
    DeleteObject(hbm);
    DeleteDC(hdcBlock);
}

// One frame into hdc, which covers the client rectangle. Called under the
// control's lock.
void PaintFrame(FAKEPROGRESS* pState, HDC hdc, const RECT& rcClient)
{
    const bool bThemed = pState->hTheme && FpIsThemeActive();
    RECT rcContent = rcClient;
    int cxBlock = 0;
    int cxSpace = 0;
    if (bThemed) {
        FpDrawThemeBackground(pState->hTheme, hdc, PROGRESS_PART_BAR, 0, &rcClient);
        if (FAILED(FpGetThemeBackgroundContentRect(pState->hTheme, hdc, PROGRESS_PART_BAR, 0,
                                                   &rcClient, &rcContent)))
            rcContent = rcClient;
        if (FAILED(FpGetThemeMetric(pState->hTheme, hdc, PROGRESS_PART_CHUNK, 0,
                                    METRIC_CHUNK_SIZE, &cxBlock)))
            cxBlock = 0;
        if (FAILED(FpGetThemeMetric(pState->hTheme, hdc, PROGRESS_PART_CHUNK, 0,
                                    METRIC_SPACE_SIZE, &cxSpace)))
            cxSpace = 0;
    } else {
        RECT rcEdge = rcClient;
        DrawEdge(hdc, &rcEdge, EDGE_SUNKEN, BF_RECT | BF_MIDDLE);
        InflateRect(&rcContent, -2, -2);
        cxSpace = CLASSIC_SPACING;
    }
    const int cyContent = rcContent.bottom - rcContent.top;
    if (cxBlock <= 0)
        cxBlock = cyContent * 2 / 3;
    if (cxSpace < 0)
        cxSpace = 0;
    const int cxStep = cxBlock + cxSpace;
    if (cxBlock <= 0 || cyContent <= 0 || rcContent.right <= rcContent.left) {
        pState->iIndex = -1;
        return;
    }

    HBRUSH hbrHighlight = GetSysColorBrush(COLOR_HIGHLIGHT);
    const int xHead = rcContent.left + pState->iIndex * cxStep;
    int xLastDrawn = 0;
    bool bDrawn = false;
    for (UINT k = 0; k < pState->uBlocks; ++k) {
        int xBlock = xHead - static_cast<int>(k) * cxStep;
        if (xBlock < rcContent.left || xBlock >= rcContent.right)
            continue;
        RECT rcBlock = {xBlock, rcContent.top, xBlock + cxBlock, rcContent.bottom};
        int cxVisible = cxBlock;
        if (rcBlock.right > rcContent.right)
            cxVisible = rcContent.right - xBlock;
        if (bThemed) {
            BYTE byAlpha = static_cast<BYTE>(255 - k * (255 / pState->uBlocks));
            DrawThemedBlock(pState, hdc, rcBlock, cxVisible, byAlpha);
        } else {
            rcBlock.right = xBlock + cxVisible;
            FillRect(hdc, &rcBlock, hbrHighlight);
        }
        xLastDrawn = xBlock;
        bDrawn = true;
    }
    // The trail has left the bar: the next frame starts again from the left.
    if (!bDrawn || xLastDrawn + cxStep >= rcContent.right)
        pState->iIndex = -1;
}

// Paints through a memory bitmap, so that a frame never flickers.
void PaintControl(FAKEPROGRESS* pState, HDC hdc)
{
    RECT rc;
    GetClientRect(pState->hWnd, &rc);
    int cx = rc.right - rc.left;
    int cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0)
        return;
    HDC hdcMem = CreateCompatibleDC(hdc);
    HBITMAP hbm = hdcMem ? CreateCompatibleBitmap(hdc, cx, cy) : nullptr;
    if (!hbm) {
        if (hdcMem)
            DeleteDC(hdcMem);
        PaintFrame(pState, hdc, rc);
        return;
    }
    HGDIOBJ hOld = SelectObject(hdcMem, hbm);
    FillRect(hdcMem, &rc, GetSysColorBrush(COLOR_BTNFACE));
    PaintFrame(pState, hdcMem, rc);
    BitBlt(hdc, 0, 0, cx, cy, hdcMem, 0, 0, SRCCOPY);
    SelectObject(hdcMem, hOld);
    DeleteObject(hbm);
    DeleteDC(hdcMem);
}

void Animate(FAKEPROGRESS* pState)
{
    for (;;) {
        UINT uInterval;
        {
            CLock lock(pState->cs);
            ++pState->iIndex;
            HDC hdc = GetDC(pState->hWnd);
            if (hdc) {
                PaintControl(pState, hdc);
                ReleaseDC(pState->hWnd, hdc);
            }
            uInterval = pState->uInterval;
        }
        if (WaitForSingleObject(pState->hStopEvent, uInterval) != WAIT_TIMEOUT)
            break;
    }
}

DWORD WINAPI AnimationThread(LPVOID pParam)
{
    Animate(static_cast<FAKEPROGRESS*>(pParam));
    return 0;
}

void StartAnimation(FAKEPROGRESS* pState)
{
    CLock lock(pState->cs);
    if (pState->hThread || pState->uTimer)
        return;
    pState->iIndex = -1;
    if (GetWindowLongW(pState->hWnd, GWL_STYLE) & FPS_TIMER) {
        pState->uTimer = SetTimer(pState->hWnd, ANIMATION_TIMER_ID, pState->uInterval, nullptr);
        if (!pState->uTimer)
            DebugTrace(L"FakeProgress()->SetTimer=%d", GetLastError());
        return;
    }
    pState->hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!pState->hStopEvent) {
        DebugTrace(L"FakeProgress()->CreateEvent=%d", GetLastError());
        return;
    }
    pState->hThread = CreateThread(nullptr, 0, AnimationThread, pState, 0, &pState->dwThreadId);
    if (!pState->hThread) {
        DebugTrace(L"FakeProgress()->CreateThread=%d", GetLastError());
        CloseHandle(pState->hStopEvent);
        pState->hStopEvent = nullptr;
    }
}

void StopAnimation(FAKEPROGRESS* pState)
{
    HANDLE hThread;
    DWORD dwThreadId;
    {
        CLock lock(pState->cs);
        hThread = pState->hThread;
        dwThreadId = pState->dwThreadId;
        if (pState->hStopEvent)
            SetEvent(pState->hStopEvent);
    }
    // The thread takes the lock for each frame: wait outside of it.
    if (hThread && dwThreadId != GetCurrentThreadId())
        WaitForSingleObject(hThread, INFINITE);

    CLock lock(pState->cs);
    if (pState->hThread) {
        CloseHandle(pState->hThread);
        pState->hThread = nullptr;
        pState->dwThreadId = 0;
    }
    if (pState->hStopEvent) {
        CloseHandle(pState->hStopEvent);
        pState->hStopEvent = nullptr;
    }
    if (pState->uTimer) {
        KillTimer(pState->hWnd, pState->uTimer);
        pState->uTimer = 0;
    }
    pState->iIndex = -1;
}

void OpenTheme(FAKEPROGRESS* pState)
{
    if (!(GetWindowLongW(pState->hWnd, GWL_STYLE) & FPS_NOTHEME))
        pState->hTheme = FpOpenThemeData(pState->hWnd, L"Progress");
}

void CloseTheme(FAKEPROGRESS* pState)
{
    if (pState->hTheme) {
        FpCloseThemeData(pState->hTheme);
        pState->hTheme = nullptr;
    }
}

LRESULT OnCreate(HWND hWnd)
{
    auto* pState = static_cast<FAKEPROGRESS*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FAKEPROGRESS)));
    if (!pState)
        return -1;
    pState->hWnd = hWnd;
    pState->iIndex = -1;
    pState->uInterval = FAKEPROGRESS_DEFAULT_INTERVAL;
    pState->uBlocks = FAKEPROGRESS_DEFAULT_BLOCKS;
    InitializeCriticalSection(&pState->cs);
    SetWindowLongPtrW(hWnd, 0, reinterpret_cast<LONG_PTR>(pState));
    OpenTheme(pState);
    if (!(GetWindowLongW(hWnd, GWL_STYLE) & WS_DISABLED))
        StartAnimation(pState);
    return 0;
}

void OnDestroy(HWND hWnd, FAKEPROGRESS* pState)
{
    StopAnimation(pState);
    CloseTheme(pState);
    SetWindowLongPtrW(hWnd, 0, 0);
    DeleteCriticalSection(&pState->cs);
    HeapFree(GetProcessHeap(), 0, pState);
}

LRESULT CALLBACK FakeProgressProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_CREATE)
        return OnCreate(hWnd);
    FAKEPROGRESS* pState = GetState(hWnd);
    if (!pState)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);

    switch (uMsg) {
    case FPM_GETINTERVAL:
        return pState->uInterval;
    case FPM_SETINTERVAL: {
        UINT uInterval = static_cast<UINT>(wParam);
        if (uInterval < FAKEPROGRESS_MIN_INTERVAL)
            uInterval = FAKEPROGRESS_MIN_INTERVAL;
        {
            CLock lock(pState->cs);
            pState->uInterval = uInterval;
            if (pState->uTimer)
                SetTimer(hWnd, ANIMATION_TIMER_ID, uInterval, nullptr);
        }
        EnableWindow(hWnd, TRUE);
        return 0;
    }
    case FPM_GETBLOCKS:
        return pState->uBlocks;
    case FPM_SETBLOCKS:
        if (wParam < 1 || wParam > FAKEPROGRESS_MAX_BLOCKS)
            return 0;
        {
            CLock lock(pState->cs);
            pState->uBlocks = static_cast<UINT>(wParam);
        }
        return 1;
    case WM_ENABLE:
        if (wParam) {
            StartAnimation(pState);
        } else {
            StopAnimation(pState);
            InvalidateRect(hWnd, nullptr, FALSE);
        }
        return 0;
    case WM_TIMER:
        if (wParam == ANIMATION_TIMER_ID) {
            {
                CLock lock(pState->cs);
                ++pState->iIndex;
            }
            InvalidateRect(hWnd, nullptr, FALSE);
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        PAINTSTRUCT ps;
        HDC hdc = (uMsg == WM_PRINTCLIENT || wParam) ? reinterpret_cast<HDC>(wParam)
                                                     : BeginPaint(hWnd, &ps);
        if (hdc) {
            CLock lock(pState->cs);
            PaintControl(pState, hdc);
        }
        if (uMsg == WM_PAINT && !wParam)
            EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_THEMECHANGED: {
        CLock lock(pState->cs);
        CloseTheme(pState);
        OpenTheme(pState);
        InvalidateRect(hWnd, nullptr, FALSE);
        return 0;
    }
    case WM_DESTROY:
        OnDestroy(hWnd, pState);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

volatile LONG g_lRegistered;

}  // namespace

extern "C" __declspec(dllexport) void WINAPI InitFakeProgress(void)
{
    if (InterlockedCompareExchange(&g_lRegistered, 1, 0) != 0)
        return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    // Global, so that the skin library can create it with its own module.
    wc.style = CS_GLOBALCLASS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = FakeProgressProc;
    wc.cbWndExtra = sizeof(FAKEPROGRESS*);
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = FAKEPROGRESS_CLASS;
    ATOM atom = RegisterClassExW(&wc);
    DWORD dwError = atom ? 0 : GetLastError();
    if (!atom && dwError != ERROR_CLASS_ALREADY_EXISTS)
        InterlockedExchange(&g_lRegistered, 0);
    DebugTrace(L"InitFakeProgress()->RegisterClassEx=%d (%d)", atom != 0, dwError);
}

HWND CreateFakeProgress(HWND hDlg, int nIdPlaceholder, DWORD dwStyle, BOOL bDestroyPlaceholder)
{
    InitFakeProgress();
    HWND hPlaceholder = GetDlgItem(hDlg, nIdPlaceholder);
    if (!hPlaceholder) {
        DebugTrace(L"CreateFakeProgress(%d)->no control", nIdPlaceholder);
        return nullptr;
    }
    RECT rc;
    GetWindowRect(hPlaceholder, &rc);
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
    if (bDestroyPlaceholder)
        DestroyWindow(hPlaceholder);
    HWND hWnd = CreateWindowExW(0, FAKEPROGRESS_CLASS, L"", dwStyle | WS_CHILD | WS_VISIBLE,
                                rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, hDlg,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(nIdPlaceholder)),
                                GetModuleHandleW(nullptr), nullptr);
    DebugTrace(L"CreateFakeProgress(%d)->%#x", nIdPlaceholder,
               static_cast<UINT>(reinterpret_cast<UINT_PTR>(hWnd)));
    return hWnd;
}
