#include "packer/pestamp.h"
#include <windows.h>
#include <stddef.h>
#include <algorithm>
#include <vector>
#include "packer/packer.h"

namespace packer {
namespace {

// The file header lies in the first megabyte; a resource tree has three
// levels (type, name, language) and no more directories than this.
const LONG MAX_HEADER_OFFSET = 0x100000;
const int RESOURCE_LEVELS = 3;
const DWORD RESOURCE_DIRECTORY_FLAG = 0x80000000;

class PeFile {
public:
    PeFile(const std::wstring& path, bool bWrite) : m_path(path)
    {
        m_h = CreateFileW(path.c_str(), GENERIC_READ | (bWrite ? GENERIC_WRITE : 0),
                          bWrite ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_h == INVALID_HANDLE_VALUE)
            throw Failure{L"cannot open " + path};
    }
    ~PeFile() { CloseHandle(m_h); }
    PeFile(const PeFile&) = delete;
    PeFile& operator=(const PeFile&) = delete;

    void Read(ULONGLONG ullOffset, void* pv, DWORD cb)
    {
        DWORD cbDone = 0;
        if (!Seek(ullOffset) || !ReadFile(m_h, pv, cb, &cbDone, nullptr) || cbDone != cb)
            throw Failure{L"not a complete Windows program: " + m_path};
    }
    void Write(ULONGLONG ullOffset, const void* pv, DWORD cb)
    {
        DWORD cbDone = 0;
        if (!Seek(ullOffset) || !WriteFile(m_h, pv, cb, &cbDone, nullptr) || cbDone != cb)
            throw Failure{L"cannot write " + m_path};
    }

    // Where the fields live, read from the headers.
    struct LAYOUT {
        ULONGLONG ullFileSize;
        ULONGLONG ullFileHeader;
        IMAGE_FILE_HEADER file;
        ULONGLONG ullSectionsEnd;  // the last byte of section data, plus one
        ULONGLONG ullTimeStamp;  // IMAGE_FILE_HEADER.TimeDateStamp
        ULONGLONG ullCheckSum;   // IMAGE_OPTIONAL_HEADER.CheckSum (same place in both kinds)
        DWORD dwResourceRva;
        std::vector<IMAGE_SECTION_HEADER> sections;
    };
    LAYOUT Headers()
    {
        LAYOUT layout = {};
        IMAGE_DOS_HEADER dos;
        Read(0, &dos, sizeof(dos));
        if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 || dos.e_lfanew > MAX_HEADER_OFFSET)
            throw Failure{L"not a Windows program: " + m_path};
        ULONGLONG ullNt = static_cast<ULONGLONG>(dos.e_lfanew);
        DWORD dwSignature = 0;
        IMAGE_FILE_HEADER file;
        Read(ullNt, &dwSignature, sizeof(dwSignature));
        Read(ullNt + 4, &file, sizeof(file));
        if (dwSignature != IMAGE_NT_SIGNATURE)
            throw Failure{L"not a Windows program: " + m_path};
        layout.ullFileHeader = ullNt + 4;
        layout.file = file;
        LARGE_INTEGER liSize = {};
        GetFileSizeEx(m_h, &liSize);
        layout.ullFileSize = static_cast<ULONGLONG>(liSize.QuadPart);
        ULONGLONG ullOptional = ullNt + 4 + sizeof(file);
        layout.ullTimeStamp = ullNt + 4 + offsetof(IMAGE_FILE_HEADER, TimeDateStamp);
        layout.ullCheckSum = ullOptional + offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum);
        WORD wMagic = 0;
        Read(ullOptional, &wMagic, sizeof(wMagic));
        IMAGE_DATA_DIRECTORY resources = {};
        if (wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
            IMAGE_OPTIONAL_HEADER32 optional = {};
            Read(ullOptional, &optional, std::min<DWORD>(sizeof(optional), file.SizeOfOptionalHeader));
            if (optional.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_RESOURCE)
                resources = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
        } else if (wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
            IMAGE_OPTIONAL_HEADER64 optional = {};
            Read(ullOptional, &optional, std::min<DWORD>(sizeof(optional), file.SizeOfOptionalHeader));
            if (optional.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_RESOURCE)
                resources = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
        } else {
            throw Failure{L"not a Windows program for x86 or x64: " + m_path};
        }
        layout.dwResourceRva = resources.Size ? resources.VirtualAddress : 0;
        layout.sections.resize(file.NumberOfSections);
        if (file.NumberOfSections)
            Read(ullOptional + file.SizeOfOptionalHeader, layout.sections.data(),
                 static_cast<DWORD>(layout.sections.size() * sizeof(IMAGE_SECTION_HEADER)));
        for (const IMAGE_SECTION_HEADER& section : layout.sections)
            if (section.SizeOfRawData)
                layout.ullSectionsEnd = std::max<ULONGLONG>(
                    layout.ullSectionsEnd,
                    static_cast<ULONGLONG>(section.PointerToRawData) + section.SizeOfRawData);
        return layout;
    }

    // The file offset of an address in the image; 0 when no section holds it.
    static ULONGLONG OffsetOf(const LAYOUT& layout, DWORD dwRva)
    {
        for (const IMAGE_SECTION_HEADER& section : layout.sections) {
            if (dwRva >= section.VirtualAddress &&
                dwRva - section.VirtualAddress < section.SizeOfRawData)
                return static_cast<ULONGLONG>(section.PointerToRawData) + (dwRva - section.VirtualAddress);
        }
        return 0;
    }

private:
    bool Seek(ULONGLONG ullOffset)
    {
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(ullOffset);
        return SetFilePointerEx(m_h, li, nullptr, FILE_BEGIN) != FALSE;
    }

    std::wstring m_path;
    HANDLE m_h;
};

}  // namespace

void SettleHeaders(const std::wstring& packageCopy, const std::wstring& launcher)
{
    DWORD dwTimeStamp = 0, dwCheckSum = 0;
    ULONGLONG ullTrailer = 0;  // COFF symbols and strings right after the launcher's sections
    {
        PeFile original(launcher, false);
        PeFile::LAYOUT layout = original.Headers();
        original.Read(layout.ullTimeStamp, &dwTimeStamp, sizeof(dwTimeStamp));
        original.Read(layout.ullCheckSum, &dwCheckSum, sizeof(dwCheckSum));
        if (layout.file.PointerToSymbolTable == layout.ullSectionsEnd)
            ullTrailer = layout.ullFileSize - layout.ullSectionsEnd;
    }
    PeFile copy(packageCopy, true);
    PeFile::LAYOUT layout = copy.Headers();
    copy.Write(layout.ullTimeStamp, &dwTimeStamp, sizeof(dwTimeStamp));
    copy.Write(layout.ullCheckSum, &dwCheckSum, sizeof(dwCheckSum));
    if (ullTrailer && layout.ullFileSize - layout.ullSectionsEnd == ullTrailer &&
        layout.ullSectionsEnd <= MAXDWORD) {
        DWORD dwPointer = static_cast<DWORD>(layout.ullSectionsEnd);
        copy.Write(layout.ullFileHeader + offsetof(IMAGE_FILE_HEADER, PointerToSymbolTable),
                   &dwPointer, sizeof(dwPointer));
    }
    if (!layout.dwResourceRva)
        return;
    ULONGLONG ullRoot = PeFile::OffsetOf(layout, layout.dwResourceRva);
    if (!ullRoot)
        throw Failure{L"the resource section is not in the file: " + packageCopy};
    // Every directory of the tree, breadth first; offsets are from the root.
    struct NODE {
        DWORD dwOffset;
        int iLevel;
    };
    std::vector<NODE> pending = {{0, 1}};
    for (size_t next = 0; next < pending.size(); ++next) {
        NODE node = pending[next];
        IMAGE_RESOURCE_DIRECTORY directory;
        copy.Read(ullRoot + node.dwOffset, &directory, sizeof(directory));
        DWORD dwZero = 0;
        copy.Write(ullRoot + node.dwOffset + offsetof(IMAGE_RESOURCE_DIRECTORY, TimeDateStamp),
                   &dwZero, sizeof(dwZero));
        DWORD dwEntries = static_cast<DWORD>(directory.NumberOfNamedEntries) +
                          directory.NumberOfIdEntries;
        std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> entries(dwEntries);
        if (dwEntries)
            copy.Read(ullRoot + node.dwOffset + sizeof(directory), entries.data(),
                      static_cast<DWORD>(dwEntries * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY)));
        for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry : entries) {
            if (!(entry.OffsetToData & RESOURCE_DIRECTORY_FLAG))
                continue;
            // Type, name, language: a deeper directory is damage (or a loop).
            if (node.iLevel >= RESOURCE_LEVELS)
                throw Failure{L"the resource tree is damaged: " + packageCopy};
            pending.push_back({entry.OffsetToData & ~RESOURCE_DIRECTORY_FLAG, node.iLevel + 1});
        }
    }
}

}  // namespace packer
