#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>
#include "support/tracesink.h"
#include "ui/htmltext.h"

namespace {

const COLORREF WHITE = RGB(255, 255, 255);
const COLORREF BLACK = RGB(0, 0, 0);
const int CANVAS_CX = 400;
const int CANVAS_CY = 120;

HFONT MakeFont(int weight, bool underline = false)
{
    // No anti-aliasing: every inked pixel has exactly the text colour.
    return CreateFontW(-13, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                       DEFAULT_PITCH, L"Tahoma");
}

// A white 32-bit memory bitmap with a known font, black text and a
// transparent background.
class Canvas {
public:
    Canvas(int cx = CANVAS_CX, int cy = CANVAS_CY) : m_cx(cx), m_cy(cy)
    {
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
        bmi.bmiHeader.biWidth = cx;
        bmi.bmiHeader.biHeight = -cy;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        m_hdc = CreateCompatibleDC(nullptr);
        m_hbm = CreateDIBSection(m_hdc, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits),
                                 nullptr, 0);
        m_hOldBmp = SelectObject(m_hdc, m_hbm);
        m_hFont = MakeFont(FW_NORMAL);
        m_hOldFont = SelectObject(m_hdc, m_hFont);
        SetBkMode(m_hdc, TRANSPARENT);
        SetTextColor(m_hdc, BLACK);
        Clear();
    }
    ~Canvas()
    {
        SelectObject(m_hdc, m_hOldFont);
        SelectObject(m_hdc, m_hOldBmp);
        DeleteObject(m_hFont);
        DeleteObject(m_hbm);
        DeleteDC(m_hdc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return m_hdc; }
    void Clear()
    {
        GdiFlush();
        for (int i = 0; i < m_cx * m_cy; ++i)
            m_bits[i] = 0x00FFFFFF;
    }
    COLORREF Pixel(int x, int y) const
    {
        GdiFlush();
        DWORD v = m_bits[y * m_cx + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    std::vector<DWORD> Pixels() const
    {
        GdiFlush();
        return std::vector<DWORD>(m_bits, m_bits + m_cx * m_cy);
    }
    // Colours other than white within columns [x0, x1).
    std::set<COLORREF> InkColors(int x0 = 0, int x1 = -1) const
    {
        if (x1 < 0)
            x1 = m_cx;
        std::set<COLORREF> colors;
        for (int y = 0; y < m_cy; ++y)
            for (int x = x0; x < x1; ++x)
                if (Pixel(x, y) != WHITE)
                    colors.insert(Pixel(x, y));
        return colors;
    }
    bool Blank() const { return InkColors().empty(); }
    int Width(const wchar_t* text, HFONT hFont = nullptr) const
    {
        HGDIOBJ hOld = hFont ? SelectObject(m_hdc, hFont) : nullptr;
        SIZE size = {};
        GetTextExtentPoint32W(m_hdc, text, lstrlenW(text), &size);
        if (hOld)
            SelectObject(m_hdc, hOld);
        return size.cx;
    }
    int LineHeight() const
    {
        SIZE size = {};
        GetTextExtentPoint32W(m_hdc, L"\x00CAy", 2, &size);
        return size.cy;
    }

private:
    int m_cx;
    int m_cy;
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hOldBmp;
    HFONT m_hFont;
    HGDIOBJ m_hOldFont;
    DWORD* m_bits = nullptr;
};

std::string Hex(COLORREF c)
{
    char buf[16];
    wsprintfA(buf, "%06X", static_cast<unsigned>(c));
    return buf;
}

std::string Describe(const std::set<COLORREF>& colors)
{
    std::string out;
    for (COLORREF c : colors)
        out += Hex(c) + " ";
    return out;
}

RECT Rect(int l, int t, int r, int b)
{
    RECT rc = {l, t, r, b};
    return rc;
}

}  // namespace

TEST(DrawHTML, BoldWordThenPlainWordOneSpaceApart)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    EXPECT_EQ(DrawHTML(canvas.dc(), L"<b>Bold</b> plain", -1, &rc, DT_WORDBREAK), 0);
    std::vector<DWORD> drawn = canvas.Pixels();

    // The same by hand: the bold word, one space of the plain font, the plain word.
    HFONT hBold = MakeFont(FW_BOLD);
    int cxBold = canvas.Width(L"Bold", hBold);
    int cxSpace = canvas.Width(L" ");
    canvas.Clear();
    HGDIOBJ hOld = SelectObject(canvas.dc(), hBold);
    TextOutW(canvas.dc(), 0, 0, L"Bold", 4);
    SelectObject(canvas.dc(), hOld);
    TextOutW(canvas.dc(), cxBold + cxSpace, 0, L"plain", 5);
    EXPECT_TRUE(drawn == canvas.Pixels());

    RECT rcCalc = Rect(5, 7, 5 + CANVAS_CX, 7 + CANVAS_CY);
    DrawHTML(canvas.dc(), L"<b>Bold</b> plain", -1, &rcCalc, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_EQ(rcCalc.right, 5 + cxBold + cxSpace + canvas.Width(L"plain"));
    EXPECT_EQ(rcCalc.bottom, 7 + canvas.LineHeight());
    DeleteObject(hBold);
}

TEST(DrawHTML, TagsThatOnlyStartWithANameCountAsThatTag)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    DrawHTML(canvas.dc(), L"<b>Word</b>", -1, &rc, 0);
    std::vector<DWORD> bold = canvas.Pixels();
    canvas.Clear();
    DrawHTML(canvas.dc(), L"Word", -1, &rc, 0);
    std::vector<DWORD> plain = canvas.Pixels();

    struct Case { const wchar_t* markup; bool bold; };
    const Case cases[] = {
        {L"<big>Word</big>", true},
        {L"<B>Word</B>", true},
        {L"<bogus>Word", true},
        {L"<b>Word</bold>", true},     // "bold" ends the bold style
        {L"<b></b>Word", false},
    };
    for (const Case& c : cases) {
        canvas.Clear();
        DrawHTML(canvas.dc(), c.markup, -1, &rc, 0);
        std::vector<DWORD> got = canvas.Pixels();
        EXPECT_TRUE(got == (c.bold ? bold : plain)) << testing::PrintToString(std::wstring(c.markup));
    }
    EXPECT_TRUE(bold != plain);
}

TEST(DrawHTML, ColoursByNameAndByHexDigits)
{
    struct Case { const wchar_t* markup; COLORREF color; };
    const Case cases[] = {
        {L"<color=red>Word</color>", RGB(255, 0, 0)},
        {L"<COLOR=RED>Word</COLOR>", RGB(255, 0, 0)},
        {L"<Color=rEd>Word", RGB(255, 0, 0)},
        {L"<color=Reddish>Word", RGB(255, 0, 0)},      // the name is a prefix
        {L"<#00FF00>Word</#>", RGB(0, 255, 0)},
        {L"<#00ff00>Word", RGB(0, 255, 0)},
        {L"<color00FF00>Word", RGB(0, 255, 0)},
        {L"<color=#00FF00>Word", RGB(0, 0, 0)},         // matches no name
        {L"<color=nosuch>Word", RGB(0, 0, 0)},
        {L"<#12G4x6>Word", RGB(0x12, 0x04, 0x06)},      // other characters count as 0
        {L"<#FF>Word", RGB(0xFF, 0, 0)},                // missing digits count as 0
        {L"<color=maroon>Word", RGB(128, 0, 0)},
        {L"<color=green>Word", RGB(0, 128, 0)},
        {L"<color=olive>Word", RGB(128, 128, 0)},
        {L"<color=navy>Word", RGB(0, 0, 128)},
        {L"<color=purple>Word", RGB(128, 0, 128)},
        {L"<color=teal>Word", RGB(0, 128, 128)},
        {L"<color=gray>Word", RGB(128, 128, 128)},
        {L"<color=silver>Word", RGB(192, 192, 192)},
        {L"<color=lime>Word", RGB(0, 255, 0)},
        {L"<color=yellow>Word", RGB(255, 255, 0)},
        {L"<color=blue>Word", RGB(0, 0, 255)},
        {L"<color=fuchsia>Word", RGB(255, 0, 255)},
        {L"<color=aqua>Word", RGB(0, 255, 255)},
        {L"<color=black>Word", RGB(0, 0, 0)},
    };
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    for (const Case& c : cases) {
        canvas.Clear();
        SetTextColor(canvas.dc(), RGB(1, 2, 3));
        DrawHTML(canvas.dc(), c.markup, -1, &rc, 0);
        std::set<COLORREF> expected = {c.color};
        EXPECT_EQ(canvas.InkColors(), expected)
            << testing::PrintToString(std::wstring(c.markup)) << " got "
            << Describe(canvas.InkColors());
        // The caller's colour is back afterwards.
        EXPECT_EQ(GetTextColor(canvas.dc()), RGB(1, 2, 3));
    }
}

TEST(DrawHTML, EndTagsReturnToTheColourBefore)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    SetTextColor(canvas.dc(), RGB(0, 0, 128));
    DrawHTML(canvas.dc(), L"<color=red>A<#00FF00>B</#>C</color>D</color>E", -1, &rc, 0);
    // Each letter's columns, in order; an extra pop returns to the DC's colour.
    const wchar_t* letters[] = {L"A", L"AB", L"ABC", L"ABCD", L"ABCDE"};
    const COLORREF colors[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(255, 0, 0), RGB(0, 0, 128),
                               RGB(0, 0, 128)};
    int x0 = 0;
    for (size_t i = 0; i < ARRAYSIZE(letters); ++i) {
        int x1 = canvas.Width(letters[i]);
        std::set<COLORREF> expected = {colors[i]};
        EXPECT_EQ(canvas.InkColors(x0, x1), expected) << "letter " << i;
        x0 = x1;
    }
}

TEST(DrawHTML, ColourStackKeepsEightAndStillColoursBeyond)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    std::wstring markup;
    for (int i = 0; i < 9; ++i)
        markup += L"<color=red>";
    markup += L"<color=blue>X";
    // Nine pops: the last falls back to the DC's colour (black).
    for (int i = 0; i < 9; ++i)
        markup += L"</color>";
    markup += L"Y";
    DrawHTML(canvas.dc(), markup.c_str(), -1, &rc, 0);
    int cxX = canvas.Width(L"X");
    EXPECT_EQ(canvas.InkColors(0, cxX), std::set<COLORREF>{RGB(0, 0, 255)});
    EXPECT_EQ(canvas.InkColors(cxX, CANVAS_CX), std::set<COLORREF>{BLACK});
}

TEST(DrawHTML, LineBreaksAndParagraphs)
{
    Canvas canvas;
    const int cyLine = canvas.LineHeight();
    const int cxOne = canvas.Width(L"one");
    const int cxTwo = canvas.Width(L"two");
    const int cxSpace = canvas.Width(L" ");
    struct Case {
        const wchar_t* markup;
        UINT flags;
        int y;       // returned offset of the last line
        int cx;      // measured width
    };
    const Case cases[] = {
        {L"one<br>two", 0, cyLine, std::max(cxOne, cxTwo)},
        {L"one<br>two", DT_SINGLELINE, 0, cxOne + cxTwo},
        {L"one <br> two", DT_SINGLELINE, 0, cxOne + cxSpace + cxTwo},
        {L"one <br> two", 0, cyLine, std::max(cxOne, cxTwo)},  // no indent after a break
        {L"one<p>two", 0, cyLine * 3 / 2, std::max(cxOne, cxTwo)},
        {L"one<p>two", DT_SINGLELINE, 0, cxOne + cxTwo},
        {L"one</br>two", 0, 0, cxOne + cxTwo},
        {L"one\r\n\ttwo", 0, 0, cxOne + cxSpace + cxTwo},
        {L"  one", 0, 0, cxOne},  // no space before the first word of a line
    };
    for (const Case& c : cases) {
        RECT rc = Rect(10, 20, 10 + CANVAS_CX, 20 + CANVAS_CY);
        EXPECT_EQ(DrawHTML(canvas.dc(), c.markup, -1, &rc, c.flags | DT_CALCRECT), c.y)
            << testing::PrintToString(std::wstring(c.markup));
        EXPECT_EQ(rc.left, 10);
        EXPECT_EQ(rc.top, 20);
        EXPECT_EQ(rc.right, 10 + c.cx) << testing::PrintToString(std::wstring(c.markup));
        EXPECT_EQ(rc.bottom, 20 + c.y + cyLine) << testing::PrintToString(std::wstring(c.markup));
    }
}

TEST(DrawHTML, CalcRectOfTwoLinesDrawsNothing)
{
    Canvas canvas;
    const int cyLine = canvas.LineHeight();
    RECT rc = Rect(3, 4, 3 + CANVAS_CX, 4 + CANVAS_CY);
    int y = DrawHTML(canvas.dc(), L"first line<br><b>second</b>", -1, &rc, DT_CALCRECT);
    EXPECT_EQ(y, cyLine);
    EXPECT_TRUE(canvas.Blank());
    HFONT hBold = MakeFont(FW_BOLD);
    int cxWidest = std::max(canvas.Width(L"first line"), canvas.Width(L"second", hBold));
    DeleteObject(hBold);
    EXPECT_EQ(rc.left, 3);
    EXPECT_EQ(rc.top, 4);
    EXPECT_EQ(rc.right, 3 + cxWidest);
    EXPECT_EQ(rc.bottom, 4 + 2 * cyLine);

    // Drawn for real, the second line lands one line lower.
    RECT rcDraw = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    DrawHTML(canvas.dc(), L"first line<br><b>second</b>", -1, &rcDraw, 0);
    EXPECT_FALSE(canvas.Blank());
    bool bInkSecondLine = false;
    for (int x = 0; x < CANVAS_CX && !bInkSecondLine; ++x)
        for (int yy = cyLine; yy < 2 * cyLine; ++yy)
            if (canvas.Pixel(x, yy) != WHITE)
                bInkSecondLine = true;
    EXPECT_TRUE(bInkSecondLine);
}

TEST(DrawHTML, WordsWrapOnlyWithWordBreak)
{
    Canvas canvas;
    const int cyLine = canvas.LineHeight();
    const int cxA = canvas.Width(L"aaaa");
    const int cxB = canvas.Width(L"bbbbbb");
    const int cxSpace = canvas.Width(L" ");
    const int cxLimit = cxA + cxSpace + cxB - 1;
    struct Case {
        const wchar_t* markup;
        int cxRect;
        UINT flags;
        int y;
        int cx;
    };
    const Case cases[] = {
        {L"aaaa bbbbbb", cxLimit, DT_WORDBREAK, cyLine, std::max(cxA, cxB)},
        {L"aaaa bbbbbb", cxLimit + 1, DT_WORDBREAK, 0, cxA + cxSpace + cxB},
        {L"aaaa bbbbbb", cxLimit, 0, 0, cxA + cxSpace + cxB},
        // Glued words never break; a word wider than the rectangle widens it.
        {L"aaaa<b></b>bbbbbb", cxLimit, DT_WORDBREAK, 0, cxA + cxB},
        {L"bbbbbb", 5, DT_WORDBREAK, 0, cxB},
        {L"aaaa bbbbbb", -50, DT_WORDBREAK, cyLine, std::max(cxA, cxB)},
    };
    for (const Case& c : cases) {
        RECT rc = Rect(0, 0, c.cxRect, CANVAS_CY);
        EXPECT_EQ(DrawHTML(canvas.dc(), c.markup, -1, &rc, c.flags | DT_CALCRECT), c.y)
            << testing::PrintToString(std::wstring(c.markup)) << " width " << c.cxRect;
        EXPECT_EQ(rc.right, c.cx) << testing::PrintToString(std::wstring(c.markup));
    }
}

TEST(DrawHTML, UnknownOrUnclosedTagsAreText)
{
    Canvas canvas;
    const int cxSpace = canvas.Width(L" ");
    struct Word { const wchar_t* text; bool spaceBefore; };
    struct Case { const wchar_t* markup; std::vector<Word> words; };
    const Case cases[] = {
        {L"<xyz>", {{L"<xyz>", false}}},
        {L"a <b", {{L"a", false}, {L"<b", true}}},
        {L"a<", {{L"a", false}, {L"<", false}}},
        {L"x <q>y", {{L"x", false}, {L"<q>", true}, {L"y", false}}},
    };
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    for (const Case& c : cases) {
        canvas.Clear();
        DrawHTML(canvas.dc(), c.markup, -1, &rc, 0);
        std::vector<DWORD> drawn = canvas.Pixels();
        canvas.Clear();
        int x = 0;
        for (const Word& w : c.words) {
            if (w.spaceBefore)
                x += cxSpace;
            TextOutW(canvas.dc(), x, 0, w.text, lstrlenW(w.text));
            x += canvas.Width(w.text);
        }
        EXPECT_TRUE(drawn == canvas.Pixels()) << testing::PrintToString(std::wstring(c.markup));
    }
}

TEST(DrawHTML, LengthLimitsTheText)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    DrawHTML(canvas.dc(), L"one two", 3, &rc, DT_CALCRECT);
    EXPECT_EQ(rc.right, canvas.Width(L"one"));
}

TEST(DrawHTML, WithoutRectangleStartsAtTheCurrentPosition)
{
    Canvas canvas;
    MoveToEx(canvas.dc(), 30, 40, nullptr);
    EXPECT_EQ(DrawHTML(canvas.dc(), L"Word", -1, nullptr, 0), 0);
    std::vector<DWORD> drawn = canvas.Pixels();
    canvas.Clear();
    TextOutW(canvas.dc(), 30, 40, L"Word", 4);
    EXPECT_TRUE(drawn == canvas.Pixels());
}

TEST(DrawHTML, NothingWithoutDcOrText)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, 10, 10);
    EXPECT_EQ(DrawHTML(nullptr, L"a<br>b", -1, &rc, 0), 0);
    EXPECT_EQ(DrawHTML(canvas.dc(), nullptr, -1, &rc, 0), 0);
    EXPECT_TRUE(canvas.Blank());
}

TEST(DrawHTML, LinksAreBlueAndUnderlinedAcrossTheirSpaces)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    SetTextColor(canvas.dc(), RGB(0, 128, 0));
    DrawHTML(canvas.dc(), L"<b>go</b> <Link=http://localhost/>two words</Link> on", -1, &rc, 0);
    std::vector<DWORD> drawn = canvas.Pixels();

    HFONT hBold = MakeFont(FW_BOLD);
    HFONT hUnder = MakeFont(FW_NORMAL, true);
    int cxSpace = canvas.Width(L" ");
    int cxGo = canvas.Width(L"go", hBold);
    int cxLink = canvas.Width(L"two words", hUnder);
    canvas.Clear();
    HGDIOBJ hOld = SelectObject(canvas.dc(), hBold);
    TextOutW(canvas.dc(), 0, 0, L"go", 2);
    SelectObject(canvas.dc(), hUnder);
    SetTextColor(canvas.dc(), RGB(0, 0, 255));
    TextOutW(canvas.dc(), cxGo + cxSpace, 0, L"two words", 9);
    SelectObject(canvas.dc(), hOld);
    SetTextColor(canvas.dc(), RGB(0, 128, 0));
    TextOutW(canvas.dc(), cxGo + cxSpace + cxLink + cxSpace, 0, L"on", 2);
    EXPECT_TRUE(drawn == canvas.Pixels());
    DeleteObject(hBold);
    DeleteObject(hUnder);
}

TEST(DrawHTML, UnderlinedNeighboursShareTheUnderline)
{
    Canvas canvas;
    RECT rc = Rect(0, 0, CANVAS_CX, CANVAS_CY);
    DrawHTML(canvas.dc(), L"<u>a b</u> c", -1, &rc, 0);
    std::vector<DWORD> drawn = canvas.Pixels();

    HFONT hUnder = MakeFont(FW_NORMAL, true);
    int cxA = canvas.Width(L"a", hUnder);
    int cxSpaceU = canvas.Width(L" ", hUnder);
    int cxB = canvas.Width(L"b", hUnder);
    int cxSpace = canvas.Width(L" ");
    canvas.Clear();
    HGDIOBJ hOld = SelectObject(canvas.dc(), hUnder);
    TextOutW(canvas.dc(), 0, 0, L"a", 1);
    TextOutW(canvas.dc(), cxA, 0, L" ", 1);
    TextOutW(canvas.dc(), cxA + cxSpaceU, 0, L"b", 1);
    SelectObject(canvas.dc(), hOld);
    TextOutW(canvas.dc(), cxA + cxSpaceU + cxB + cxSpace, 0, L"c", 1);
    EXPECT_TRUE(drawn == canvas.Pixels());
    DeleteObject(hUnder);
}

// ---- The HTML text control ----

namespace {

struct NotifyRecord {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
    std::wstring target;
    int nLink;
    int nId;
};

// The parent window of the tests: records link clicks and answers them.
struct ParentState {
    std::vector<NotifyRecord> clicks;
    int iAnswer = 1;
};
ParentState g_Parent;

LRESULT CALLBACK ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NOTIFY) {
        auto* pNm = reinterpret_cast<NMHTMLLINK*>(lParam);
        NotifyRecord rec = {pNm->hdr.hwndFrom, pNm->hdr.idFrom, pNm->hdr.code,
                            pNm->szTarget ? pNm->szTarget : L"", pNm->nLink, pNm->nId};
        g_Parent.clicks.push_back(rec);
        pNm->iResult = g_Parent.iAnswer;
        return 0;
    }
    if (uMsg == WM_ERASEBKGND) {
        RECT rc;
        GetClientRect(hWnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        return 1;
    }
    if (uMsg == WM_CTLCOLORSTATIC) {
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 128, 0));
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

class HtmlControlTest : public testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HtmlTextTestParent";
        RegisterClassW(&wc);
        g_Parent = ParentState();
        m_hParent = CreateWindowExW(0, L"HtmlTextTestParent", L"HTML text", WS_OVERLAPPEDWINDOW,
                                    50, 50, 520, 420, nullptr, nullptr, wc.hInstance, nullptr);
        m_hFont = MakeFont(FW_NORMAL);
        tracesink::Clear();
    }
    void TearDown() override
    {
        DestroyWindow(m_hParent);
        DeleteObject(m_hFont);
    }

    HWND MakeControl(const wchar_t* text, DWORD style = SS_LEFT, int cx = 480, int cy = 360)
    {
        HWND hCtrl = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, 0, 0, cx,
                                     cy, m_hParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(77)),
                                     GetModuleHandleW(nullptr), nullptr);
        SendMessageW(hCtrl, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
        EXPECT_TRUE(SubclassHTMLControl(hCtrl));
        return hCtrl;
    }

    // Paints the control into a canvas as it would paint on screen.
    void Print(HWND hCtrl, Canvas& canvas)
    {
        canvas.Clear();
        SendMessageW(hCtrl, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
    }

    void Click(HWND hCtrl, int x, int y)
    {
        SendMessageW(hCtrl, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    }

    HWND m_hParent = nullptr;
    HFONT m_hFont = nullptr;
};

}  // namespace

TEST_F(HtmlControlTest, AnswersTheQueryOnlyWhenSubclassed)
{
    HWND hPlain = CreateWindowExW(0, L"STATIC", L"plain", WS_CHILD, 0, 0, 10, 10, m_hParent,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND hHtml = MakeControl(L"<b>x</b>");
    EXPECT_EQ(SendMessageW(hHtml, WM_HTML_QUERY, 0, 0), static_cast<LRESULT>(0x4D544850));
    EXPECT_EQ(static_cast<LRESULT>(HTML_CONTROL_MARK), SendMessageW(hHtml, WM_HTML_QUERY, 0, 0));
    EXPECT_NE(static_cast<LRESULT>(HTML_CONTROL_MARK), SendMessageW(hPlain, WM_HTML_QUERY, 0, 0));
    EXPECT_EQ(SendMessageW(hHtml, WM_NCHITTEST, 0, 0), HTCLIENT);
    // Subclassing twice keeps the one state.
    EXPECT_TRUE(SubclassHTMLControl(hHtml));
    EXPECT_FALSE(SubclassHTMLControl(nullptr));
}

TEST_F(HtmlControlTest, ClickOnALinkNotifiesTheParent)
{
    struct Case {
        const wchar_t* markup;
        const wchar_t* target;
        int nId;
    };
    const Case cases[] = {
        {L"<Link=42>Help</Link>", L"Help", 42},
        {L"<Link=http://localhost/page>Site</Link>", L"http://localhost/page", 0},
        {L"<Link>Word </Link>", L"Word", 0},
        {L"<link=7>two words</link> after", L"two words", 7},
    };
    for (const Case& c : cases) {
        g_Parent.clicks.clear();
        HWND hCtrl = MakeControl(c.markup);
        Canvas canvas(480, 360);
        Print(hCtrl, canvas);
        Click(hCtrl, 2, 3);
        ASSERT_EQ(g_Parent.clicks.size(), 1u) << testing::PrintToString(std::wstring(c.markup));
        const NotifyRecord& rec = g_Parent.clicks[0];
        EXPECT_EQ(rec.hwndFrom, hCtrl);
        EXPECT_EQ(rec.idFrom, 77u);
        EXPECT_EQ(rec.code, static_cast<UINT>(HTMLN_LINKCLICK));
        EXPECT_EQ(rec.target, c.target);
        EXPECT_EQ(rec.nLink, 1);
        EXPECT_EQ(rec.nId, c.nId);
        // Far right of the link: nothing.
        Click(hCtrl, 470, 3);
        EXPECT_EQ(g_Parent.clicks.size(), 1u);
        DestroyWindow(hCtrl);
    }
}

TEST_F(HtmlControlTest, VisitedLinksTurnPurpleByTheParentsAnswer)
{
    struct Case {
        int iAnswer;
        COLORREF after;
    };
    // 1: handled by the parent, visited; any other value but 0: nothing.
    const Case cases[] = {{1, RGB(128, 0, 128)}, {2, RGB(0, 0, 255)}, {-1, RGB(0, 0, 255)}};
    for (const Case& c : cases) {
        g_Parent.iAnswer = c.iAnswer;
        HWND hCtrl = MakeControl(L"<Link=42>Help</Link> plain");
        Canvas canvas(480, 360);
        Print(hCtrl, canvas);
        int cxHelp = canvas.Width(L"Help");
        EXPECT_EQ(canvas.InkColors(0, cxHelp), std::set<COLORREF>{RGB(0, 0, 255)});
        // The parent chose the colour of the rest.
        EXPECT_EQ(canvas.InkColors(cxHelp, 480), std::set<COLORREF>{RGB(0, 128, 0)});
        Click(hCtrl, 2, 3);
        Print(hCtrl, canvas);
        EXPECT_EQ(canvas.InkColors(0, cxHelp), std::set<COLORREF>{c.after}) << c.iAnswer;
        DestroyWindow(hCtrl);
    }
}

TEST_F(HtmlControlTest, ALinkThatCannotBeOpenedStaysUnvisited)
{
    g_Parent.iAnswer = 0;
    HWND hCtrl = MakeControl(L"<Link=C:\\no-such-folder\\no-such-file.stowaway-none>Open</Link>");
    Canvas canvas(480, 360);
    Print(hCtrl, canvas);
    Click(hCtrl, 2, 3);
    ASSERT_EQ(g_Parent.clicks.size(), 1u);
    EXPECT_TRUE(tracesink::ContainsPrefix(
        "HTMLControl()->ShellExecute(C:\\no-such-folder\\no-such-file.stowaway-none)="))
        << tracesink::Dump();
    Print(hCtrl, canvas);
    int cxOpen = canvas.Width(L"Open");
    EXPECT_EQ(canvas.InkColors(0, cxOpen), std::set<COLORREF>{RGB(0, 0, 255)});
}

TEST_F(HtmlControlTest, SixteenLinksAreClickableAndTheRestAreNot)
{
    std::wstring markup;
    for (int i = 1; i <= 18; ++i)
        markup += L"<Link=" + std::to_wstring(i) + L">Link " + std::to_wstring(i) + L"</Link><br>";
    HWND hCtrl = MakeControl(markup.c_str(), SS_LEFT, 480, 400);
    Canvas canvas(480, 400);
    Print(hCtrl, canvas);
    const int cyLine = canvas.LineHeight();
    for (int i = 1; i <= 18; ++i) {
        g_Parent.clicks.clear();
        Click(hCtrl, 2, (i - 1) * cyLine + cyLine / 2);
        if (i <= 16) {
            ASSERT_EQ(g_Parent.clicks.size(), 1u) << "link " << i;
            EXPECT_EQ(g_Parent.clicks[0].nLink, i);
            EXPECT_EQ(g_Parent.clicks[0].nId, i);
            EXPECT_EQ(g_Parent.clicks[0].target, L"Link " + std::to_wstring(i));
        } else {
            EXPECT_TRUE(g_Parent.clicks.empty()) << "link " << i;
        }
    }
    // The extra links are still drawn as links.
    EXPECT_EQ(canvas.InkColors(), std::set<COLORREF>{RGB(0, 0, 255)});
}

TEST_F(HtmlControlTest, NewTextForgetsTheLinks)
{
    HWND hCtrl = MakeControl(L"<Link=1>First</Link>");
    Canvas canvas(480, 360);
    Print(hCtrl, canvas);
    SetWindowTextW(hCtrl, L"no links here");
    Click(hCtrl, 2, 3);
    EXPECT_TRUE(g_Parent.clicks.empty());

    // A link in the new text is found at the next paint.
    SetWindowTextW(hCtrl, L"<Link=2>Second</Link>");
    Print(hCtrl, canvas);
    Click(hCtrl, 2, 3);
    ASSERT_EQ(g_Parent.clicks.size(), 1u);
    EXPECT_EQ(g_Parent.clicks[0].nId, 2);
}

TEST_F(HtmlControlTest, StyleDecidesWrapping)
{
    struct Case {
        DWORD style;
        bool wraps;
        bool breaks;  // honours <br>
    };
    const Case cases[] = {
        {SS_LEFT, true, true},
        {SS_CENTER, true, true},
        {SS_RIGHT, true, true},
        {SS_SIMPLE, false, false},
        {SS_LEFTNOWORDWRAP, false, true},
    };
    for (const Case& c : cases) {
        Canvas canvas(480, 360);
        HWND hCtrl = MakeControl(L"aaaa bbbb<br>cccc", c.style, canvas.Width(L"aaaa bb"), 100);
        Print(hCtrl, canvas);
        const int cyLine = canvas.LineHeight();
        auto inkOnLine = [&](int line) {
            for (int y = line * cyLine; y < (line + 1) * cyLine; ++y)
                for (int x = 0; x < 480; ++x)
                    if (canvas.Pixel(x, y) != WHITE)
                        return true;
            return false;
        };
        int lines = 0;
        while (lines < 4 && inkOnLine(lines))
            ++lines;
        int expected = 1 + (c.wraps ? 1 : 0) + (c.breaks ? 1 : 0);
        EXPECT_EQ(lines, expected) << "style " << c.style;
        DestroyWindow(hCtrl);
    }
}

TEST_F(HtmlControlTest, ThePaintedControlOnScreen)
{
    HWND hCtrl = MakeControl(
        L"<b>Stowaway</b> shows <i>marked-up</i> text with <u>underlines</u>,<br>"
        L"<color=red>colours</color>, <#008080>hex colours</#> and "
        L"<Link=1>links</Link>.<p>A new paragraph wraps its words at the control's edge "
        L"like any static text would.");
    ShowWindow(m_hParent, SW_SHOW);
    UpdateWindow(m_hParent);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    Canvas canvas(480, 360);
    Print(hCtrl, canvas);
    std::set<COLORREF> colors = canvas.InkColors();
    for (COLORREF c : {RGB(0, 128, 0), RGB(255, 0, 0), RGB(0, 128, 128), RGB(0, 0, 255)})
        EXPECT_TRUE(colors.count(c)) << Hex(c) << " missing: " << Describe(colors);
    // Leave it up for a moment for anyone taking a screenshot.
    if (GetEnvironmentVariableW(L"STOWAWAY_UI_PAUSE", nullptr, 0))
        Sleep(3000);
}

namespace {

// launcher.exe beside the test program, mapped without running it.
HMODULE MapLauncher()
{
    wchar_t szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    while (cch > 0 && szPath[cch - 1] != L'\\')
        --cch;
    szPath[cch] = L'\0';
    lstrcatW(szPath, L"launcher.exe");
    return LoadLibraryExW(szPath, nullptr, DONT_RESOLVE_DLL_REFERENCES);
}

}  // namespace

TEST(DrawHTML, TheProgramExportsTheDrawingFunctionsByTheirDecoratedNames)
{
    HMODULE hLauncher = MapLauncher();
    ASSERT_NE(hLauncher, nullptr) << GetLastError();
#ifdef _WIN64
    const char* names[] = {"DrawHTML", "InitFakeProgress"};
#else
    const char* names[] = {"DrawHTML@20", "InitFakeProgress@0"};
#endif
    for (const char* name : names)
        EXPECT_NE(GetProcAddress(hLauncher, name), nullptr) << name;
    FreeLibrary(hLauncher);
}
