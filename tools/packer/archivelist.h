// The members of an archive as the launcher will write them, read from the
// archive's own directory without unpacking anything.
#pragma once
#include <string>
#include <vector>

namespace packer {

enum class ArchiveKind { Unknown, Cabinet, Zip, Pac };

struct ARCHIVELISTING {
    ArchiveKind kind = ArchiveKind::Unknown;
    bool bComplete = false;           // false: part of a cabinet set, or unreadable
    std::vector<std::wstring> files;  // relative names, "\" between folders
};

ARCHIVELISTING ListArchive(const std::wstring& path);
// The same for a cabinet held in memory (a resource).
ARCHIVELISTING ListCabinetBytes(const unsigned char* pb, size_t cb);

}  // namespace packer
