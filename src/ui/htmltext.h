// Text with a little markup (bold, italic, underline, colours, line and
// paragraph breaks, links), measured and drawn like DrawText; and the HTML
// text control, a subclassed static control that paints its text that way.
#pragma once
#include <windows.h>

// Private query answered by an HTML text control with HTML_CONTROL_MARK.
#define WM_HTML_QUERY 0x82BD
#define HTML_CONTROL_MARK 0x4D544850  // "PHTM"
// WM_NOTIFY code of a click on a link.
#define HTMLN_LINKCLICK 1

enum : unsigned {
    HTML_MAX_LINKS = 16,         // links recorded per control
    HTML_LINK_TARGET_CCH = 2048, // link target: 2047 characters kept
    HTML_COLOR_STACK = 8,        // colours saved by nested colour tags
    HTML_FONT_VARIANTS = 7,      // bold, italic, underline combinations
};

// Sent with WM_NOTIFY to the control's parent when a link is clicked.
// iResult 0: the control opens the target; 1: the parent handled it (the
// link is marked visited); anything else: nothing happens.
struct NMHTMLLINK {
    NMHDR hdr;          // the control, its id, HTMLN_LINKCLICK
    LPCWSTR szTarget;   // link target text
    int nLink;          // link number, 1-based
    int nId;            // numeric id given in the tag, else 0
    int iResult;
};

// Draws (or with DT_CALCRECT measures) marked-up text. nCount -1: the text
// is zero-terminated. Flags: DT_WORDBREAK, DT_SINGLELINE, DT_CALCRECT.
// Without a rectangle drawing starts at the DC's current position.
// Returns the y offset of the last line. Exported for the skin library.
extern "C" __declspec(dllexport) int WINAPI DrawHTML(HDC hdc, LPCWSTR szText, int nCount,
                                                     LPRECT lpRect, UINT uFormat);

// Turns a static control into an HTML text control (its window text is
// markup, its links open on click). FALSE when the control cannot be
// subclassed.
[[nodiscard]] BOOL SubclassHTMLControl(HWND hCtrl);
