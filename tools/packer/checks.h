// What the configuration names, checked against what the package carries:
// a package that would skip its license, miss its script, fall back to
// English or find no setup program is not written without being told to.
#pragma once
#include <string>
#include "packer/packer.h"
#include "packer/setupconfig.h"

namespace packer {

// The keys --allow-missing (and [Package] AllowMissing=) take; empty when
// key is none of them, else its spelling here.
std::wstring AllowMissingKey(const std::wstring& key);
extern const char ALLOW_MISSING_KEYS[];  // for the usage text

// Throws Failure after naming, one line each on stderr, every file the
// configuration or the skin names that the package would not carry and
// that project.allowMissing does not allow; prints the allowed ones as
// warnings.
void CheckNamedFiles(const PROJECT& project, const SETUPCONFIG& config);

}  // namespace packer
