// Text at the edges of the program: the files a package carries (its
// configuration, install script and license text) and the names that
// archives and the payload table keep as bytes. Inside, text is UTF-16.
//
// A name never goes to a code page with a best fit: that turns
// "C:\Users\Łukasz" into "C:\Users\Lukasz", someone else's folder. What a
// code page cannot hold exactly is an error.
#pragma once
#include <windows.h>
#include <vector>

// Encodings of a text file.
enum TEXTENCODING {
    TEXT_ANSI,     // the system's ANSI code page
    TEXT_UTF8,     // with or without its byte-order mark
    TEXT_UTF16LE,  // only with its byte-order mark
    TEXT_UTF16BE,  // only with its byte-order mark
};

// "ANSI", "UTF-8", "UTF-16LE", "UTF-16BE", for the trace.
LPCWSTR TextEncodingName(TEXTENCODING encoding);

// TRUE when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF, no sequence cut at the end).
[[nodiscard]] BOOL IsValidUtf8(const BYTE* pData, size_t cbData);

// TRUE when every byte is below 0x80: the same text in UTF-8 and in any
// ANSI code page.
[[nodiscard]] BOOL IsAscii(const BYTE* pData, size_t cbData);

// A byte-order mark decides, else valid UTF-8, else the ANSI code page.
// *pcbMark receives the length of the mark.
[[nodiscard]] TEXTENCODING DetectTextEncoding(const BYTE* pData, size_t cbData, size_t* pcbMark);

// The text of a file's bytes in UTF-16, without its mark. An odd last byte
// of UTF-16 text is no character.
[[nodiscard]] std::vector<WCHAR> DecodeText(const BYTE* pData, size_t cbData,
                                            TEXTENCODING* pEncoding);

// A stored name (zero-terminated bytes) in UTF-16, bounded. 0, or the
// reason: it does not fit (122), or UTF-8 bytes are not well-formed (1113).
[[nodiscard]] DWORD NameToWide(LPCSTR szName, LPWSTR szOut, int cchOut, UINT uCodePage);

// The UTF-8 form, bounded. 0, or 122 (ERROR_INSUFFICIENT_BUFFER) when it
// does not fit.
[[nodiscard]] DWORD WideToUtf8(LPCWSTR szText, LPSTR szOut, int cbOut);

// The code-page form that stands for exactly the same text, bounded. 0, or
// the reason: 1113 (ERROR_NO_UNICODE_TRANSLATION) when a character has no
// form of its own there (no best fit, no default character), 122 when the
// result does not fit.
[[nodiscard]] DWORD WideToCodePage(LPCWSTR szText, LPSTR szOut, int cbOut, UINT uCodePage);
