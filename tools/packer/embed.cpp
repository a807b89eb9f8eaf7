#include "packer.h"

namespace packer {

// Resources (configuration, languages, skin) are embedded into the copy here.
void EmbedResources(const std::wstring& packageCopy, const PROJECT& project)
{
}

}  // namespace packer
