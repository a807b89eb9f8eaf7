// The bounded string functions, with results that must be looked at. A
// copy that does not fit is cut, and a cut path or command names something
// else: every caller either checks the result, or casts it to (void) with
// the reason a cut text is harmless there (a text that is only shown or
// traced, or one that fits by construction).
#pragma once
#include <windows.h>
#include <strsafe.h>

#define BOUNDED_RESULT [[nodiscard]]

extern "C" {
BOUNDED_RESULT HRESULT WINAPI StringCchCopyW(STRSAFE_LPWSTR, size_t, STRSAFE_LPCWSTR);
BOUNDED_RESULT HRESULT WINAPI StringCchCopyA(STRSAFE_LPSTR, size_t, STRSAFE_LPCSTR);
BOUNDED_RESULT HRESULT WINAPI StringCchCopyNW(STRSAFE_LPWSTR, size_t, STRSAFE_LPCWSTR, size_t);
BOUNDED_RESULT HRESULT WINAPI StringCchCatW(STRSAFE_LPWSTR, size_t, STRSAFE_LPCWSTR);
BOUNDED_RESULT HRESULT WINAPI StringCchCatA(STRSAFE_LPSTR, size_t, STRSAFE_LPCSTR);
BOUNDED_RESULT HRESULT WINAPI StringCchVPrintfW(STRSAFE_LPWSTR, size_t, STRSAFE_LPCWSTR, va_list);
BOUNDED_RESULT HRESULT StringCchPrintfW(STRSAFE_LPWSTR, size_t, STRSAFE_LPCWSTR, ...);
BOUNDED_RESULT HRESULT StringCchPrintfA(STRSAFE_LPSTR, size_t, STRSAFE_LPCSTR, ...);
BOUNDED_RESULT HRESULT WINAPI StringCchLengthW(STRSAFE_LPCWSTR, size_t, size_t*);
}

#undef BOUNDED_RESULT
