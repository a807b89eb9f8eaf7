// The headers of the launcher's copy after the resource update. The update
// may stamp the resource directories and the file header with the clock:
// they get the launcher's own stamps back, so that the same inputs give the
// same package. It moves the COFF string table that names the debug-link
// section to the new end of the image but leaves its pointer behind: the
// pointer follows it.
#pragma once
#include <string>

namespace packer {

// Throws Failure when packageCopy is no PE image it can read and write.
void SettleHeaders(const std::wstring& packageCopy, const std::wstring& launcher);

}  // namespace packer
