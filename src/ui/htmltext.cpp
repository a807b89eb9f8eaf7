#include "ui/htmltext.h"
#include <shellapi.h>
#include "common/boundedtext.h"
#include "common/trace.h"

namespace {

const WCHAR HTML_STATE_PROP[] = L"StowawayHtmlText";

enum : UINT {
    STYLE_BOLD = 1,
    STYLE_ITALIC = 2,
    STYLE_UNDERLINE = 4,
};

const COLORREF LINK_COLOR = RGB(0, 0, 255);
const COLORREF VISITED_COLOR = RGB(128, 0, 128);

struct HTMLLINK {
    RECT rc;
    WCHAR szTarget[HTML_LINK_TARGET_CCH];
    int nId;
    BOOL bVisited;
    BOOL bCut;  // the target did not fit: cut short it would open another page
};

// Per control: its links (recorded at the first paint) and its previous
// window procedure.
struct HTMLLINKSTATE {
    HTMLLINK links[HTML_MAX_LINKS];
    int nCount;
    BOOL bMeasured;
    WNDPROC pfnPrevProc;
};

struct NAMEDCOLOR {
    const WCHAR* szName;
    COLORREF color;
};

// Tried from the last entry back to the second; the first is the fallback.
const NAMEDCOLOR NAMED_COLORS[] = {
    {L"Black", RGB(0, 0, 0)},       {L"Maroon", RGB(128, 0, 0)},
    {L"Green", RGB(0, 128, 0)},     {L"Olive", RGB(128, 128, 0)},
    {L"Navy", RGB(0, 0, 128)},      {L"Purple", RGB(128, 0, 128)},
    {L"Teal", RGB(0, 128, 128)},    {L"Gray", RGB(128, 128, 128)},
    {L"Silver", RGB(192, 192, 192)}, {L"Red", RGB(255, 0, 0)},
    {L"Lime", RGB(0, 255, 0)},      {L"Yellow", RGB(255, 255, 0)},
    {L"Blue", RGB(0, 0, 255)},      {L"Fuchsia", RGB(255, 0, 255)},
    {L"Aqua", RGB(0, 255, 255)},    {L"White", RGB(255, 255, 255)},
};

enum TAGKIND { TAG_NONE, TAG_LINK, TAG_BR, TAG_P, TAG_HASH, TAG_COLOR, TAG_U, TAG_I, TAG_B };

struct TAGNAME {
    const WCHAR* szName;
    TAGKIND kind;
};

// The first name that starts the tag wins, in this order.
const TAGNAME TAG_NAMES[] = {
    {L"Link", TAG_LINK}, {L"br", TAG_BR}, {L"p", TAG_P},   {L"#", TAG_HASH},
    {L"color", TAG_COLOR}, {L"u", TAG_U}, {L"i", TAG_I},   {L"b", TAG_B},
};

bool IsHtmlSpace(WCHAR c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Case-insensitive: does the text [p, end) start with szPrefix?
bool StartsWithNoCase(const WCHAR* p, const WCHAR* end, const WCHAR* szPrefix)
{
    size_t cch = lstrlenW(szPrefix);
    if (static_cast<size_t>(end - p) < cch)
        return false;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, p, static_cast<int>(cch), szPrefix,
                          static_cast<int>(cch)) == CSTR_EQUAL;
}

int HexDigit(WCHAR c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return 0;
}

// RRGGBB; characters past the tag or not hex count as 0.
COLORREF ParseHexColor(const WCHAR* p, const WCHAR* end)
{
    int digits[6] = {};
    for (int i = 0; i < 6 && p + i < end; ++i)
        digits[i] = HexDigit(p[i]);
    return RGB(digits[0] * 16 + digits[1], digits[2] * 16 + digits[3],
               digits[4] * 16 + digits[5]);
}

COLORREF ParseNamedColor(const WCHAR* p, const WCHAR* end)
{
    for (size_t i = ARRAYSIZE(NAMED_COLORS) - 1; i > 0; --i) {
        if (StartsWithNoCase(p, end, NAMED_COLORS[i].szName))
            return NAMED_COLORS[i].color;
    }
    return NAMED_COLORS[0].color;
}

bool IsNumber(const WCHAR* p, const WCHAR* end)
{
    if (p >= end)
        return false;
    for (; p < end; ++p) {
        if (*p < L'0' || *p > L'9')
            return false;
    }
    return true;
}

// Everything one call of the renderer keeps.
class CHtmlRenderer {
public:
    CHtmlRenderer(HDC hdc, UINT uFormat, HTMLLINKSTATE* pLinks)
        : m_hdc(hdc), m_uFormat(uFormat), m_pLinks(pLinks)
    {
    }
    ~CHtmlRenderer()
    {
        for (HFONT hFont : m_hFonts) {
            if (hFont)
                DeleteObject(hFont);
        }
    }

    int Run(LPCWSTR szText, int nCount, LPRECT lpRect);

private:
    void OnTag(const WCHAR* p, const WCHAR* end);
    void OnWord(const WCHAR* p, int cch);
    void SelectStyleFont();
    void PushColor(COLORREF color);
    void PopColor();
    void NewLine(int cyStep);
    void StartLink(const WCHAR* p, const WCHAR* end);
    void EndLink();

    HDC m_hdc;
    UINT m_uFormat;
    HTMLLINKSTATE* m_pLinks;

    int m_xLeft = 0;
    int m_yTop = 0;
    int m_x = 0;
    int m_y = 0;
    int m_cyLine = 0;
    int m_cxLimit = 0;
    int m_cxWidest = 0;
    int m_cxSpace = 0;
    bool m_bSpaceBefore = false;
    bool m_bPrevUnderlined = false;

    UINT m_uStyle = 0;
    UINT m_uFontStyle = 0;
    HFONT m_hFontOrig = nullptr;
    LOGFONTW m_lfOrig = {};
    bool m_bHaveLogFont = false;
    HFONT m_hFonts[HTML_FONT_VARIANTS] = {};

    COLORREF m_colorOrig = 0;
    COLORREF m_colorStack[HTML_COLOR_STACK] = {};
    int m_nColors = 0;

    bool m_bInLink = false;
    UINT m_uStyleBeforeLink = 0;
    int m_iLink = -1;       // record of the open link, -1 when not recorded
    int m_nLinksSeen = 0;   // links met so far in this call
};

int CHtmlRenderer::Run(LPCWSTR szText, int nCount, LPRECT lpRect)
{
    int cch = nCount < 0 ? lstrlenW(szText) : nCount;

    if (lpRect) {
        m_xLeft = lpRect->left;
        m_yTop = lpRect->top;
        m_cxLimit = lpRect->right - lpRect->left;
    } else {
        POINT pt = {};
        GetCurrentPositionEx(m_hdc, &pt);
        m_xLeft = pt.x;
        m_yTop = pt.y;
        m_cxLimit = GetDeviceCaps(m_hdc, HORZRES) - pt.x;
    }
    if (m_cxLimit < 0)
        m_cxLimit = 0;

    int iSaved = SaveDC(m_hdc);
    SetTextAlign(m_hdc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    m_hFontOrig = static_cast<HFONT>(GetCurrentObject(m_hdc, OBJ_FONT));
    m_bHaveLogFont = m_hFontOrig && GetObjectW(m_hFontOrig, sizeof(m_lfOrig), &m_lfOrig) != 0;
    m_colorOrig = GetTextColor(m_hdc);

    SIZE size = {};
    GetTextExtentPoint32W(m_hdc, L"\x00CAy", 2, &size);
    m_cyLine = size.cy;
    GetTextExtentPoint32W(m_hdc, L" ", 1, &size);
    m_cxSpace = size.cx;

    const WCHAR* p = szText;
    const WCHAR* end = szText + cch;
    while (p < end) {
        if (IsHtmlSpace(*p)) {
            if (m_x > 0)
                m_bSpaceBefore = true;
            ++p;
            continue;
        }
        const WCHAR* pWordEnd = p + 1;
        if (*p == L'<') {
            const WCHAR* pClose = p + 1;
            while (pClose < end && *pClose != L'>')
                ++pClose;
            if (pClose < end) {
                // A tag that matches no name is drawn as it stands.
                const WCHAR* pName = p + 1;
                bool bKnown = false;
                const WCHAR* pAfterSlash = (pName < pClose && *pName == L'/') ? pName + 1 : pName;
                for (const TAGNAME& tag : TAG_NAMES) {
                    if (StartsWithNoCase(pAfterSlash, pClose, tag.szName)) {
                        bKnown = true;
                        break;
                    }
                }
                if (bKnown) {
                    OnTag(pName, pClose);
                    p = pClose + 1;
                    continue;
                }
                pWordEnd = pClose + 1;
                OnWord(p, static_cast<int>(pWordEnd - p));
                p = pWordEnd;
                continue;
            }
        }
        // A word; inside a link the whole text up to the next tag.
        while (pWordEnd < end && *pWordEnd != L'<' && (m_bInLink || !IsHtmlSpace(*pWordEnd)))
            ++pWordEnd;
        OnWord(p, static_cast<int>(pWordEnd - p));
        p = pWordEnd;
    }

    RestoreDC(m_hdc, iSaved);
    if ((m_uFormat & DT_CALCRECT) && lpRect) {
        lpRect->right = lpRect->left + m_cxWidest;
        lpRect->bottom = lpRect->top + m_y + m_cyLine;
    }
    if (m_pLinks)
        m_pLinks->bMeasured = TRUE;
    return m_y;
}

void CHtmlRenderer::OnTag(const WCHAR* p, const WCHAR* end)
{
    bool bEnd = (*p == L'/');
    if (bEnd)
        ++p;
    TAGKIND kind = TAG_NONE;
    for (const TAGNAME& tag : TAG_NAMES) {
        if (StartsWithNoCase(p, end, tag.szName)) {
            kind = tag.kind;
            break;
        }
    }
    const bool bSingleLine = (m_uFormat & DT_SINGLELINE) != 0;
    switch (kind) {
    case TAG_B:
        m_uStyle = bEnd ? (m_uStyle & ~STYLE_BOLD) : (m_uStyle | STYLE_BOLD);
        break;
    case TAG_I:
        m_uStyle = bEnd ? (m_uStyle & ~STYLE_ITALIC) : (m_uStyle | STYLE_ITALIC);
        break;
    case TAG_U:
        m_uStyle = bEnd ? (m_uStyle & ~STYLE_UNDERLINE) : (m_uStyle | STYLE_UNDERLINE);
        break;
    case TAG_BR:
        if (!bEnd && !bSingleLine)
            NewLine(m_cyLine);
        break;
    case TAG_P:
        if (!bEnd && !bSingleLine)
            NewLine(m_cyLine * 3 / 2);
        break;
    case TAG_HASH:
        if (bEnd)
            PopColor();
        else
            PushColor(ParseHexColor(p + 1, end));
        break;
    case TAG_COLOR:
        if (bEnd)
            PopColor();
        else if (p + 5 < end && p[5] == L'=')
            PushColor(ParseNamedColor(p + 6, end));
        else
            PushColor(ParseHexColor(p + 5, end));
        break;
    case TAG_LINK:
        if (bEnd)
            EndLink();
        else
            StartLink(p + 4, end);
        break;
    case TAG_NONE:
        break;
    }
}

void CHtmlRenderer::NewLine(int cyStep)
{
    m_x = 0;
    m_y += cyStep;
    // Blanks before a break do not indent the next line.
    m_bSpaceBefore = false;
}

void CHtmlRenderer::PushColor(COLORREF color)
{
    // Beyond the stack the colour still changes; it is just not saved.
    if (m_nColors < static_cast<int>(HTML_COLOR_STACK))
        m_colorStack[m_nColors++] = GetTextColor(m_hdc);
    SetTextColor(m_hdc, color);
}

void CHtmlRenderer::PopColor()
{
    COLORREF color = m_nColors > 0 ? m_colorStack[--m_nColors] : m_colorOrig;
    SetTextColor(m_hdc, color);
}

void CHtmlRenderer::StartLink(const WCHAR* p, const WCHAR* end)
{
    // p follows "Link": an optional "=target" or "=number".
    const WCHAR* pTarget = (p < end && *p == L'=') ? p + 1 : end;
    m_bInLink = true;
    m_uStyleBeforeLink = m_uStyle;
    m_uStyle = STYLE_UNDERLINE;
    m_iLink = -1;
    int iSeen = m_nLinksSeen++;

    if (!m_pLinks) {
        PushColor(LINK_COLOR);
        return;
    }
    if (!m_pLinks->bMeasured) {
        // First paint: record it while there is room; the rest stay plain text.
        if (m_pLinks->nCount < static_cast<int>(HTML_MAX_LINKS)) {
            m_iLink = m_pLinks->nCount++;
            HTMLLINK& link = m_pLinks->links[m_iLink];
            SetRectEmpty(&link.rc);
            link.bVisited = FALSE;
            link.bCut = FALSE;
            link.nId = 0;
            link.szTarget[0] = L'\0';
            if (IsNumber(pTarget, end)) {
                link.nId = _wtoi(pTarget);
            } else if (pTarget < end) {
                size_t cch = static_cast<size_t>(end - pTarget);
                link.bCut =
                    FAILED(StringCchCopyNW(link.szTarget, HTML_LINK_TARGET_CCH, pTarget, cch));
            }
        }
        PushColor(LINK_COLOR);
        return;
    }
    bool bVisited = iSeen < m_pLinks->nCount && m_pLinks->links[iSeen].bVisited;
    PushColor(bVisited ? VISITED_COLOR : LINK_COLOR);
}

void CHtmlRenderer::EndLink()
{
    if (!m_bInLink)
        return;
    PopColor();
    m_uStyle = m_uStyleBeforeLink;
    m_bInLink = false;
    m_iLink = -1;
}

void CHtmlRenderer::SelectStyleFont()
{
    if (m_uStyle == m_uFontStyle)
        return;
    HFONT hFont = m_hFontOrig;
    if (m_uStyle != 0 && m_bHaveLogFont) {
        HFONT& hVariant = m_hFonts[m_uStyle - 1];
        if (!hVariant) {
            LOGFONTW lf = m_lfOrig;
            lf.lfWeight = (m_uStyle & STYLE_BOLD) ? FW_BOLD : FW_NORMAL;
            lf.lfItalic = (m_uStyle & STYLE_ITALIC) ? TRUE : FALSE;
            lf.lfUnderline = (m_uStyle & STYLE_UNDERLINE) ? TRUE : FALSE;
            hVariant = CreateFontIndirectW(&lf);
        }
        if (hVariant)
            hFont = hVariant;
    }
    if (hFont)
        SelectObject(m_hdc, hFont);
    m_uFontStyle = m_uStyle;
    SIZE size = {};
    GetTextExtentPoint32W(m_hdc, L" ", 1, &size);
    m_cxSpace = size.cx;
}

void CHtmlRenderer::OnWord(const WCHAR* p, int cch)
{
    SelectStyleFont();
    SIZE size = {};
    GetTextExtentPoint32W(m_hdc, p, cch, &size);
    if (size.cx > m_cxLimit)
        m_cxLimit = size.cx;
    if (m_bSpaceBefore)
        m_x += m_cxSpace;
    if (m_x + size.cx > m_cxLimit && m_bSpaceBefore) {
        if (m_uFormat & DT_WORDBREAK) {
            m_y += m_cyLine;
            m_x = 0;
            m_bSpaceBefore = false;
        } else {
            m_cxLimit = m_x + size.cx;
        }
    }

    if (m_bInLink && m_pLinks && m_iLink >= 0) {
        HTMLLINK& link = m_pLinks->links[m_iLink];
        RECT rcWord = {m_xLeft + m_x, m_yTop + m_y, m_xLeft + m_x + size.cx,
                       m_yTop + m_y + m_cyLine};
        UnionRect(&link.rc, &link.rc, &rcWord);
        if (link.szTarget[0] == L'\0') {
            // "Link=number" (or a bare "Link"): the text is the target.
            int cchTarget = cch;
            while (cchTarget > 0 && IsHtmlSpace(p[cchTarget - 1]))
                --cchTarget;
            link.bCut = FAILED(StringCchCopyNW(link.szTarget, HTML_LINK_TARGET_CCH, p,
                                               static_cast<size_t>(cchTarget)));
        }
    }

    const bool bUnderlined = (m_uStyle & STYLE_UNDERLINE) != 0;
    if (!(m_uFormat & DT_CALCRECT)) {
        // Underlined neighbours: the underline runs across the space between them.
        if (m_bSpaceBefore && m_bPrevUnderlined && bUnderlined)
            TextOutW(m_hdc, m_xLeft + m_x - m_cxSpace, m_yTop + m_y, L" ", 1);
        TextOutW(m_hdc, m_xLeft + m_x, m_yTop + m_y, p, cch);
    }
    m_bPrevUnderlined = bUnderlined;
    m_bSpaceBefore = false;
    m_x += size.cx;
    if (m_x > m_cxWidest)
        m_cxWidest = m_x;
}

int DrawHTMLWithLinks(HDC hdc, LPCWSTR szText, int nCount, LPRECT lpRect, UINT uFormat,
                      HTMLLINKSTATE* pLinks)
{
    if (!hdc || !szText)
        return 0;
    CHtmlRenderer renderer(hdc, uFormat, pLinks);
    return renderer.Run(szText, nCount, lpRect);
}

HTMLLINKSTATE* GetLinkState(HWND hWnd)
{
    return static_cast<HTMLLINKSTATE*>(GetPropW(hWnd, HTML_STATE_PROP));
}

int LinkFromPoint(const HTMLLINKSTATE* pState, POINT pt)
{
    for (int i = 0; i < pState->nCount; ++i) {
        if (PtInRect(&pState->links[i].rc, pt))
            return i;
    }
    return -1;
}

UINT FormatFromStyle(HWND hWnd)
{
    switch (GetWindowLongW(hWnd, GWL_STYLE) & SS_TYPEMASK) {
    case SS_SIMPLE:
        return DT_SINGLELINE;
    case SS_LEFTNOWORDWRAP:
        return 0;
    default:
        return DT_WORDBREAK;
    }
}

void PaintHtmlControl(HWND hWnd, HDC hdc, HTMLLINKSTATE* pState)
{
    int cch = GetWindowTextLengthW(hWnd);
    WCHAR* szText = static_cast<WCHAR*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (static_cast<size_t>(cch) + 1) * sizeof(WCHAR)));
    if (!szText)
        return;
    cch = GetWindowTextW(hWnd, szText, cch + 1);

    RECT rc;
    GetClientRect(hWnd, &rc);
    int iSaved = SaveDC(hdc);
    HFONT hFont = reinterpret_cast<HFONT>(SendMessageW(hWnd, WM_GETFONT, 0, 0));
    if (hFont)
        SelectObject(hdc, hFont);
    SetBkMode(hdc, TRANSPARENT);
    // The parent picks the colours as for any static control.
    HWND hParent = GetParent(hWnd);
    if (hParent)
        SendMessageW(hParent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc),
                     reinterpret_cast<LPARAM>(hWnd));
    SetBkMode(hdc, TRANSPARENT);
    DrawHTMLWithLinks(hdc, szText, cch, &rc, FormatFromStyle(hWnd), pState);
    RestoreDC(hdc, iSaved);
    HeapFree(GetProcessHeap(), 0, szText);
}

LRESULT EraseThroughParent(HWND hWnd, HTMLLINKSTATE* pState, WPARAM wParam, LPARAM lParam)
{
    HDC hdc = reinterpret_cast<HDC>(wParam);
    HWND hParent = GetParent(hWnd);
    LRESULT lResult = 0;
    if (hParent && hdc) {
        RECT rc;
        GetClientRect(hWnd, &rc);
        POINT ptOrigin = {0, 0};
        MapWindowPoints(hWnd, hParent, &ptOrigin, 1);
        int iSaved = SaveDC(hdc);
        IntersectClipRect(hdc, rc.left, rc.top, rc.right, rc.bottom);
        OffsetWindowOrgEx(hdc, ptOrigin.x, ptOrigin.y, nullptr);
        lResult = SendMessageW(hParent, WM_ERASEBKGND, wParam, 0);
        RestoreDC(hdc, iSaved);
    }
    if (!lResult)
        lResult = CallWindowProcW(pState->pfnPrevProc, hWnd, WM_ERASEBKGND, wParam, lParam);
    return lResult;
}

void ClickLink(HWND hWnd, HTMLLINKSTATE* pState, int iLink)
{
    HTMLLINK& link = pState->links[iLink];
    if (link.bCut) {
        DebugTrace(
            L"HTMLControl()->Link %d: its target is longer than %u characters, nothing opened",
            iLink + 1, static_cast<unsigned>(HTML_LINK_TARGET_CCH - 1));
        return;
    }
    NMHTMLLINK nm = {};
    nm.hdr.hwndFrom = hWnd;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hWnd));
    nm.hdr.code = HTMLN_LINKCLICK;
    nm.szTarget = link.szTarget;
    nm.nLink = iLink + 1;
    nm.nId = link.nId;
    nm.iResult = 0;
    HWND hParent = GetParent(hWnd);
    if (hParent)
        SendMessageW(hParent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
    DebugTrace(L"HTMLControl()->Link %d (%s) Result=%d", nm.nLink, link.szTarget, nm.iResult);

    if (nm.iResult == 0) {
        SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
        HINSTANCE hResult = ShellExecuteW(hWnd, L"open", link.szTarget, nullptr, nullptr, SW_SHOW);
        INT_PTR iShell = reinterpret_cast<INT_PTR>(hResult);
        DebugTrace(L"HTMLControl()->ShellExecute(%s)=%d", link.szTarget, static_cast<int>(iShell));
        if (iShell > 32)
            link.bVisited = TRUE;
    } else if (nm.iResult == 1) {
        link.bVisited = TRUE;
    }
    InvalidateRect(hWnd, &link.rc, TRUE);
}

LRESULT CALLBACK HtmlControlProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    HTMLLINKSTATE* pState = GetLinkState(hWnd);
    if (!pState)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);

    switch (uMsg) {
    case WM_HTML_QUERY:
        return HTML_CONTROL_MARK;
    case WM_UPDATEUISTATE:
        return 0;
    case WM_SETTEXT: {
        LRESULT lResult = CallWindowProcW(pState->pfnPrevProc, hWnd, uMsg, wParam, lParam);
        // The links are recorded again at the next paint.
        pState->nCount = 0;
        pState->bMeasured = FALSE;
        InvalidateRect(hWnd, nullptr, TRUE);
        return lResult;
    }
    case WM_ERASEBKGND:
        return EraseThroughParent(hWnd, pState, wParam, lParam);
    case WM_PAINT: {
        if (wParam) {
            PaintHtmlControl(hWnd, reinterpret_cast<HDC>(wParam), pState);
            return 0;
        }
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hWnd, &ps);
        if (hdc)
            PaintHtmlControl(hWnd, hdc, pState);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintHtmlControl(hWnd, reinterpret_cast<HDC>(wParam), pState);
        return 0;
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_SETCURSOR: {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(hWnd, &pt);
        bool bOverLink = LinkFromPoint(pState, pt) >= 0;
        SetCursor(LoadCursorW(nullptr, bOverLink ? IDC_HAND : IDC_ARROW));
        return TRUE;
    }
    case WM_LBUTTONDOWN: {
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int iLink = LinkFromPoint(pState, pt);
        if (iLink >= 0) {
            ClickLink(hWnd, pState, iLink);
            return 0;
        }
        break;
    }
    case WM_DESTROY: {
        WNDPROC pfnPrev = pState->pfnPrevProc;
        LRESULT lResult = CallWindowProcW(pfnPrev, hWnd, uMsg, wParam, lParam);
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnPrev));
        RemovePropW(hWnd, HTML_STATE_PROP);
        HeapFree(GetProcessHeap(), 0, pState);
        return lResult;
    }
    default:
        break;
    }
    return CallWindowProcW(pState->pfnPrevProc, hWnd, uMsg, wParam, lParam);
}

}  // namespace

extern "C" __declspec(dllexport) int WINAPI DrawHTML(HDC hdc, LPCWSTR szText, int nCount,
                                                     LPRECT lpRect, UINT uFormat)
{
    return DrawHTMLWithLinks(hdc, szText, nCount, lpRect, uFormat, nullptr);
}

BOOL SubclassHTMLControl(HWND hCtrl)
{
    if (!hCtrl || !IsWindow(hCtrl))
        return FALSE;
    if (GetLinkState(hCtrl))
        return TRUE;
    auto* pState = static_cast<HTMLLINKSTATE*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(HTMLLINKSTATE)));
    if (!pState)
        return FALSE;
    if (!SetPropW(hCtrl, HTML_STATE_PROP, pState)) {
        HeapFree(GetProcessHeap(), 0, pState);
        return FALSE;
    }
    pState->pfnPrevProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hCtrl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HtmlControlProc)));
    if (!pState->pfnPrevProc) {
        DebugTrace(L"SubclassHTMLControl()->SetWindowLongPtr=%d", GetLastError());
        RemovePropW(hCtrl, HTML_STATE_PROP);
        HeapFree(GetProcessHeap(), 0, pState);
        return FALSE;
    }
    InvalidateRect(hCtrl, nullptr, TRUE);
    return TRUE;
}

