#include "common/textcode.h"
#include <string.h>
#include "common/errors.h"

namespace {

const BYTE UTF8_MARK[] = {0xEF, 0xBB, 0xBF};
const BYTE UTF16LE_MARK[] = {0xFF, 0xFE};
const BYTE UTF16BE_MARK[] = {0xFE, 0xFF};
const WCHAR* const ENCODING_NAMES[] = {L"ANSI", L"UTF-8", L"UTF-16LE", L"UTF-16BE"};

// Length of the well-formed UTF-8 sequence at p, 0 when there is none.
size_t Utf8SequenceLength(const BYTE* p, size_t cbLeft)
{
    BYTE b = p[0];
    if (b < 0x80)
        return 1;
    size_t cbSeq;
    BYTE byLow = 0x80, byHigh = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        cbSeq = 2;
    } else if (b == 0xE0) {
        cbSeq = 3;
        byLow = 0xA0;  // no overlong forms
    } else if (b == 0xED) {
        cbSeq = 3;
        byHigh = 0x9F;  // no surrogates
    } else if (b >= 0xE1 && b <= 0xEF) {
        cbSeq = 3;
    } else if (b == 0xF0) {
        cbSeq = 4;
        byLow = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
        cbSeq = 4;
    } else if (b == 0xF4) {
        cbSeq = 4;
        byHigh = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (cbLeft < cbSeq || p[1] < byLow || p[1] > byHigh)
        return 0;
    for (size_t i = 2; i < cbSeq; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return cbSeq;
}

bool StartsWith(const BYTE* pData, size_t cbData, const BYTE* pMark, size_t cbMark)
{
    return cbData >= cbMark && memcmp(pData, pMark, cbMark) == 0;
}

}  // namespace

LPCWSTR TextEncodingName(TEXTENCODING encoding)
{
    return ENCODING_NAMES[encoding];
}

BOOL IsValidUtf8(const BYTE* pData, size_t cbData)
{
    for (size_t i = 0; i < cbData;) {
        size_t cbSeq = Utf8SequenceLength(pData + i, cbData - i);
        if (cbSeq == 0)
            return FALSE;
        i += cbSeq;
    }
    return TRUE;
}

BOOL IsAscii(const BYTE* pData, size_t cbData)
{
    for (size_t i = 0; i < cbData; ++i) {
        if (pData[i] >= 0x80)
            return FALSE;
    }
    return TRUE;
}

TEXTENCODING DetectTextEncoding(const BYTE* pData, size_t cbData, size_t* pcbMark)
{
    *pcbMark = 0;
    if (StartsWith(pData, cbData, UTF8_MARK, sizeof(UTF8_MARK))) {
        *pcbMark = sizeof(UTF8_MARK);
        return TEXT_UTF8;
    }
    if (StartsWith(pData, cbData, UTF16LE_MARK, sizeof(UTF16LE_MARK))) {
        *pcbMark = sizeof(UTF16LE_MARK);
        return TEXT_UTF16LE;
    }
    if (StartsWith(pData, cbData, UTF16BE_MARK, sizeof(UTF16BE_MARK))) {
        *pcbMark = sizeof(UTF16BE_MARK);
        return TEXT_UTF16BE;
    }
    return IsValidUtf8(pData, cbData) ? TEXT_UTF8 : TEXT_ANSI;
}

std::vector<WCHAR> DecodeText(const BYTE* pData, size_t cbData, TEXTENCODING* pEncoding)
{
    size_t cbMark = 0;
    TEXTENCODING encoding = DetectTextEncoding(pData, cbData, &cbMark);
    if (pEncoding)
        *pEncoding = encoding;
    const BYTE* p = pData + cbMark;
    size_t cb = cbData - cbMark;
    std::vector<WCHAR> text;
    if (encoding == TEXT_UTF16LE || encoding == TEXT_UTF16BE) {
        text.resize(cb / 2);
        for (size_t i = 0; i < text.size(); ++i) {
            BYTE byFirst = p[2 * i], bySecond = p[2 * i + 1];
            text[i] = encoding == TEXT_UTF16LE ? static_cast<WCHAR>(byFirst | (bySecond << 8))
                                               : static_cast<WCHAR>((byFirst << 8) | bySecond);
        }
        return text;
    }
    if (cb == 0 || cb > 0x7FFFFFFF)
        return text;
    UINT uCodePage = encoding == TEXT_UTF8 ? CP_UTF8 : CP_ACP;
    const char* pText = reinterpret_cast<const char*>(p);
    int cchText = MultiByteToWideChar(uCodePage, 0, pText, static_cast<int>(cb), nullptr, 0);
    if (cchText <= 0)
        return text;
    text.resize(static_cast<size_t>(cchText));
    MultiByteToWideChar(uCodePage, 0, pText, static_cast<int>(cb), &text[0], cchText);
    return text;
}

DWORD NameToWide(LPCSTR szName, LPWSTR szOut, int cchOut, UINT uCodePage)
{
    if (cchOut <= 0)
        return ERROR_INSUFFICIENT_BUFFER;
    szOut[0] = L'\0';
    if (!szName || !szName[0])
        return ERROR_SUCCESS;
    // A malformed UTF-8 name would come out with replacement characters:
    // another name than the one stored.
    DWORD dwFlags = uCodePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    int cch = MultiByteToWideChar(uCodePage, dwFlags, szName, -1, szOut, cchOut);
    if (cch <= 0) {
        DWORD dwError = LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
        szOut[0] = L'\0';
        return dwError;
    }
    return ERROR_SUCCESS;
}

DWORD WideToUtf8(LPCWSTR szText, LPSTR szOut, int cbOut)
{
    if (cbOut <= 0)
        return ERROR_INSUFFICIENT_BUFFER;
    szOut[0] = '\0';
    if (!szText || !szText[0])
        return ERROR_SUCCESS;
    int cb = WideCharToMultiByte(CP_UTF8, 0, szText, -1, szOut, cbOut, nullptr, nullptr);
    if (cb <= 0) {
        DWORD dwError = LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
        szOut[0] = '\0';
        return dwError;
    }
    return ERROR_SUCCESS;
}

DWORD WideToCodePage(LPCWSTR szText, LPSTR szOut, int cbOut, UINT uCodePage)
{
    if (cbOut <= 0)
        return ERROR_INSUFFICIENT_BUFFER;
    szOut[0] = '\0';
    if (!szText || !szText[0])
        return ERROR_SUCCESS;
    BOOL bDefaultUsed = FALSE;
    int cb = WideCharToMultiByte(uCodePage, WC_NO_BEST_FIT_CHARS, szText, -1, szOut, cbOut,
                                 nullptr, &bDefaultUsed);
    if (cb <= 0 || bDefaultUsed) {
        DWORD dwError = cb <= 0 ? LastErrorOr(ERROR_NO_UNICODE_TRANSLATION)
                                : ERROR_NO_UNICODE_TRANSLATION;
        szOut[0] = '\0';
        return dwError;
    }
    return ERROR_SUCCESS;
}
