// packer verify: what an administrator runs before deploying a package.
// Lists the records of the file table, the package's resources and its
// signature; checks that the table adds up (records back to back, the data
// blocks back to back between the image and the table, the sizes summing
// to TotFilesSize, nothing after the magic but the signature) and every
// item's SHA-256 against the package's hash resource.
#pragma once
#include <string>

namespace packer {

// Prints the report on stdout; true when every check passed.
bool VerifyPackage(const std::wstring& package);

}  // namespace packer
