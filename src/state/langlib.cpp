#include "state/langlib.h"
#include <vector>
#include "common/handles.h"
#include "common/trace.h"
#include "res/resource.h"

namespace {

const WORD DIALOGS_NEEDED[] = {IDD_STATUS_SMALL, IDD_STATUS_NORMAL, IDD_LICENSE, IDD_MSGWAIT};
const WORD STRINGS_NEEDED[] = {
    IDS_RESTART_TEXT, IDS_RESTART_CAPTION, IDS_DOWNLOADING, IDS_INSTALLING, IDS_PREPARING,
    IDS_EXTRACTING, IDS_COPYING, IDS_READY, IDS_UNCOMPRESSING, IDS_CLEANING, IDS_SETTING,
    IDS_COMPLETE, IDS_LICENSE_TITLE, IDS_LICENSE_READ, IDS_LICENSE_ACCEPT, IDS_LICENSE_DECLINE,
    IDS_STATUS_TITLE, IDS_STATUS_CONFIGURING, IDS_ERROR_CAPTION, IDS_ERROR_BUILD,
    IDS_ERROR_CONNLOST, IDS_ERROR_NOCONN, IDS_ERROR_INTERRUPTED, IDS_ERROR_INIT,
    IDS_ERROR_DISKSPACE, IDS_WARNING_CAPTION, IDS_HELP_CAPTION,
};
const DWORD MAX_DIALOG_ITEMS = 256;
const WORD RESOURCE_DIRECTORY_SIZE = 16;
const WORD RESOURCE_ENTRY_SIZE = 8;
const DWORD RESOURCE_SUBDIRECTORY = 0x80000000;

// Reads a block of bytes front to back; every read is checked against the
// block's end.
class CReader {
public:
    CReader(const BYTE* p, DWORD cb) : m_p(p), m_cb(cb), m_pos(0) {}
    bool Skip(DWORD cb)
    {
        if (cb > m_cb - m_pos)
            return false;
        m_pos += cb;
        return true;
    }
    bool Word(WORD& w)
    {
        if (sizeof(w) > m_cb - m_pos)
            return false;
        memcpy(&w, m_p + m_pos, sizeof(w));
        m_pos += sizeof(w);
        return true;
    }
    bool Dword(DWORD& dw)
    {
        if (sizeof(dw) > m_cb - m_pos)
            return false;
        memcpy(&dw, m_p + m_pos, sizeof(dw));
        m_pos += sizeof(dw);
        return true;
    }
    // A zero-terminated UTF-16 text.
    bool Text()
    {
        for (WORD w = 1; w != 0;) {
            if (!Word(w))
                return false;
        }
        return true;
    }
    // A text, or 0xFFFF and an ordinal; *pwOrdinal receives the ordinal
    // (0 for a text).
    bool TextOrOrdinal(WORD* pwOrdinal = nullptr)
    {
        WORD w = 0;
        if (pwOrdinal)
            *pwOrdinal = 0;
        if (m_pos + sizeof(w) > m_cb)
            return false;
        memcpy(&w, m_p + m_pos, sizeof(w));
        if (w == 0xFFFF) {
            WORD wOrdinal = 0;
            if (!Skip(sizeof(w)) || !Word(wOrdinal))
                return false;
            if (pwOrdinal)
                *pwOrdinal = wOrdinal;
            return true;
        }
        return Text();
    }
    bool Align4() { return Skip((4 - (m_pos & 3)) & 3); }

private:
    const BYTE* m_p;
    DWORD m_cb;
    DWORD m_pos;
};

// A dialog template, classic or extended, read item by item.
bool IsWholeDialog(const BYTE* p, DWORD cb)
{
    CReader r(p, cb);
    WORD wVersion = 0, wSignature = 0;
    if (!r.Word(wVersion) || !r.Word(wSignature))
        return false;
    const bool bExtended = wVersion == 1 && wSignature == 0xFFFF;
    DWORD dwStyle = 0;
    WORD cItems = 0;
    if (bExtended) {
        if (!r.Skip(8) || !r.Dword(dwStyle))  // help id, extended style
            return false;
    } else {
        r = CReader(p, cb);
        if (!r.Dword(dwStyle) || !r.Skip(4))
            return false;
    }
    if (!r.Word(cItems) || cItems > MAX_DIALOG_ITEMS || !r.Skip(8))  // x, y, cx, cy
        return false;
    if (!r.TextOrOrdinal() || !r.TextOrOrdinal() || !r.Text())  // menu, class, title
        return false;
    if (dwStyle & DS_SETFONT) {
        if (!r.Skip(2) || (bExtended && !r.Skip(4)) || !r.Text())  // size, weight, italic, charset
            return false;
    }
    for (WORD i = 0; i < cItems; ++i) {
        if (!r.Align4())
            return false;
        // help id (extended), styles, x, y, cx, cy, id
        if (!r.Skip(bExtended ? 4 + 8 + 8 + 4 : 8 + 8 + 2))
            return false;
        WORD wClass = 0;
        if (!r.TextOrOrdinal(&wClass) || !r.TextOrOrdinal())  // class, title
            return false;
        // A predefined class is one of button .. combo box.
        if (wClass != 0 && (wClass < 0x80 || wClass > 0x85))
            return false;
        WORD cbExtra = 0;
        if (!r.Word(cbExtra) || !r.Skip(cbExtra))
            return false;
    }
    return true;
}

// A string block holds 16 counted strings.
bool StringInBlock(const BYTE* p, DWORD cb, UINT uIndex, bool* pbPresent)
{
    CReader r(p, cb);
    for (UINT i = 0; i < 16; ++i) {
        WORD cch = 0;
        if (!r.Word(cch) || !r.Skip(static_cast<DWORD>(cch) * sizeof(WCHAR)))
            return false;
        if (i == uIndex)
            *pbPresent = cch > 0;
    }
    return true;
}

// The image as a file: its sections map the addresses the resource
// directory uses to bytes of the file.
class CImageFile {
public:
    explicit CImageFile(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}

    const char* Parse()
    {
        CReader r(m_bytes.data(), static_cast<DWORD>(m_bytes.size()));
        WORD wMagic = 0;
        DWORD dwNewHeader = 0;
        if (!r.Word(wMagic) || wMagic != IMAGE_DOS_SIGNATURE || !r.Skip(0x3C - 2) ||
            !r.Dword(dwNewHeader))
            return "not a Windows image";
        CReader nt(m_bytes.data(), static_cast<DWORD>(m_bytes.size()));
        DWORD dwSignature = 0;
        WORD cSections = 0, cbOptional = 0, wOptionalMagic = 0;
        if (!nt.Skip(dwNewHeader) || !nt.Dword(dwSignature) || dwSignature != IMAGE_NT_SIGNATURE ||
            !nt.Skip(2) || !nt.Word(cSections) || !nt.Skip(12) || !nt.Word(cbOptional) ||
            !nt.Skip(2))
            return "not a Windows image";
        // The optional header: its resource directory entry, then the sections.
        CReader optional(m_bytes.data() + dwNewHeader + 24,
                         static_cast<DWORD>(m_bytes.size()) - (dwNewHeader + 24));
        if (!optional.Word(wOptionalMagic))
            return "not a Windows image";
        DWORD dwDirectories = wOptionalMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? 112 : 96;
        DWORD cDirectories = 0;
        if (!optional.Skip(dwDirectories - 4 - 2) || !optional.Dword(cDirectories) ||
            cDirectories <= IMAGE_DIRECTORY_ENTRY_RESOURCE ||
            !optional.Skip(IMAGE_DIRECTORY_ENTRY_RESOURCE * 8) || !optional.Dword(m_dwRsrcRva) ||
            !optional.Dword(m_dwRsrcSize) ||
            dwDirectories + cDirectories * 8 > cbOptional)
            return "not a Windows image";
        CReader sections(m_bytes.data(), static_cast<DWORD>(m_bytes.size()));
        if (!sections.Skip(dwNewHeader + 24 + cbOptional))
            return "not a Windows image";
        for (WORD i = 0; i < cSections; ++i) {
            SECTION s = {};
            if (!sections.Skip(8) || !sections.Dword(s.dwVirtualSize) ||
                !sections.Dword(s.dwVirtualAddress) || !sections.Dword(s.dwRawSize) ||
                !sections.Dword(s.dwRawOffset) || !sections.Skip(16))
                return "section table cut short";
            m_sections.push_back(s);
        }
        if (!m_dwRsrcRva || !m_dwRsrcSize || !At(m_dwRsrcRva, RESOURCE_DIRECTORY_SIZE))
            return "no resources";
        return nullptr;
    }

    // The bytes at an address, when all cb of them lie in the file.
    const BYTE* At(DWORD dwRva, DWORD cb) const
    {
        for (const SECTION& s : m_sections) {
            DWORD dwSpan = s.dwRawSize;
            if (dwRva < s.dwVirtualAddress || dwRva - s.dwVirtualAddress >= dwSpan)
                continue;
            DWORD dwInto = dwRva - s.dwVirtualAddress;
            if (cb > dwSpan - dwInto)
                return nullptr;
            ULONGLONG ullOffset = static_cast<ULONGLONG>(s.dwRawOffset) + dwInto;
            if (ullOffset + cb > m_bytes.size())
                return nullptr;
            return m_bytes.data() + ullOffset;
        }
        return nullptr;
    }

    // The data of resource type/id (its first language), or null.
    const BYTE* Resource(WORD wType, WORD wId, DWORD* pcb) const
    {
        DWORD dwNameDir = 0, dwLangDir = 0, dwData = 0;
        if (!Entry(0, wType, true, dwNameDir) || !Entry(dwNameDir, wId, true, dwLangDir) ||
            !Entry(dwLangDir, 0, false, dwData))
            return nullptr;
        // A data entry: the address of the bytes and their size.
        const BYTE* pEntry = At(m_dwRsrcRva + dwData, 8);
        if (!pEntry || dwData > m_dwRsrcSize)
            return nullptr;
        DWORD dwRva = 0;
        memcpy(&dwRva, pEntry, 4);
        memcpy(pcb, pEntry + 4, 4);
        return At(dwRva, *pcb);
    }

private:
    struct SECTION {
        DWORD dwVirtualSize, dwVirtualAddress, dwRawSize, dwRawOffset;
    };

    // In the directory at dwDir (an offset into the resources): the entry
    // with the ordinal wId (or the first one), which must lead to another
    // directory when bDirectory, to data otherwise.
    bool Entry(DWORD dwDir, WORD wId, bool bById, DWORD& dwNext) const
    {
        if (dwDir > m_dwRsrcSize)
            return false;
        const BYTE* pDir = At(m_dwRsrcRva + dwDir, RESOURCE_DIRECTORY_SIZE);
        if (!pDir)
            return false;
        WORD cNamed = 0, cIds = 0;
        memcpy(&cNamed, pDir + 12, 2);
        memcpy(&cIds, pDir + 14, 2);
        DWORD cEntries = static_cast<DWORD>(cNamed) + cIds;
        const BYTE* pEntries =
            At(m_dwRsrcRva + dwDir + RESOURCE_DIRECTORY_SIZE, cEntries * RESOURCE_ENTRY_SIZE);
        if (!pEntries)
            return false;
        for (DWORD i = 0; i < cEntries; ++i) {
            DWORD dwName = 0, dwOffset = 0;
            memcpy(&dwName, pEntries + i * RESOURCE_ENTRY_SIZE, 4);
            memcpy(&dwOffset, pEntries + i * RESOURCE_ENTRY_SIZE + 4, 4);
            if (bById && ((dwName & RESOURCE_SUBDIRECTORY) || LOWORD(dwName) != wId))
                continue;
            // Names and ids lead to directories; languages lead to data.
            bool bToDirectory = (dwOffset & RESOURCE_SUBDIRECTORY) != 0;
            if (bToDirectory != bById)
                return false;
            dwNext = dwOffset & ~RESOURCE_SUBDIRECTORY;
            return dwNext < m_dwRsrcSize;
        }
        return false;
    }

    const std::vector<BYTE>& m_bytes;
    std::vector<SECTION> m_sections;
    DWORD m_dwRsrcRva = 0;
    DWORD m_dwRsrcSize = 0;
};

bool ReadWholeFile(LPCWSTR szPath, std::vector<BYTE>& bytes, const char** ppszWhy)
{
    CFileHandle hFile(CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER liSize;
    if (!hFile.IsValid() || !GetFileSizeEx(hFile.Get(), &liSize)) {
        *ppszWhy = "not readable";
        return false;
    }
    if (liSize.QuadPart > LANGLIB_MAX_BYTES) {
        *ppszWhy = "too large";
        return false;
    }
    bytes.resize(static_cast<size_t>(liSize.QuadPart));
    DWORD cbRead = 0;
    if (!bytes.empty() && (!ReadFile(hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                     &cbRead, nullptr) ||
                           cbRead != bytes.size())) {
        *ppszWhy = "not readable";
        return false;
    }
    return true;
}

}  // namespace

BOOL CheckLanguageLibrary(LPCWSTR szPath)
{
    std::vector<BYTE> bytes;
    const char* pszWhy = nullptr;
    char szWhy[64];
    if (ReadWholeFile(szPath, bytes, &pszWhy)) {
        CImageFile image(bytes);
        pszWhy = image.Parse();
        for (size_t i = 0; !pszWhy && i < ARRAYSIZE(DIALOGS_NEEDED); ++i) {
            DWORD cb = 0;
            const BYTE* p =
                image.Resource(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(RT_DIALOG)), DIALOGS_NEEDED[i], &cb);
            if (!p || !IsWholeDialog(p, cb)) {
                wsprintfA(szWhy, p ? "dialog %u damaged" : "dialog %u missing", DIALOGS_NEEDED[i]);
                pszWhy = szWhy;
            }
        }
        DWORD cbMenu = 0;
        if (!pszWhy &&
            !image.Resource(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(RT_MENU)), IDM_TRAY, &cbMenu))
            pszWhy = "menu 138 missing";
        for (size_t i = 0; !pszWhy && i < ARRAYSIZE(STRINGS_NEEDED); ++i) {
            UINT uId = STRINGS_NEEDED[i];
            DWORD cb = 0;
            const BYTE* p = image.Resource(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(RT_STRING)),
                                           static_cast<WORD>(uId / 16 + 1), &cb);
            bool bPresent = false;
            if (!p || !StringInBlock(p, cb, uId % 16, &bPresent) || !bPresent) {
                wsprintfA(szWhy, "string %u missing", uId);
                pszWhy = szWhy;
            }
        }
    }
    if (pszWhy) {
        DebugTrace(L"CheckLanguageLibrary(%s)->%hs", szPath ? szPath : L"", pszWhy);
        return FALSE;
    }
    return TRUE;
}

HMODULE LoadCheckedLanguageLibrary(LPCWSTR szPath)
{
    if (!szPath || !szPath[0] || !CheckLanguageLibrary(szPath))
        return nullptr;
    // Resources only: no code of the file runs, nothing of it is resolved.
    HMODULE hLib =
        LoadLibraryExW(szPath, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
    if (!hLib && GetLastError() == ERROR_INVALID_PARAMETER)
        hLib = LoadLibraryExW(szPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return hLib;
}
