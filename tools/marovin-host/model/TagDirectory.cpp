#include "model/TagDirectory.h"

namespace marovin_host {

TagDirectory::TagDirectory(const std::vector<TagRow> &rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        byName_.emplace(rows[i].tag.name, static_cast<long>(i));
}

long TagDirectory::indexOf(const std::string &name) const
{
    const auto it = byName_.find(name);
    return it == byName_.end() ? -1 : it->second;
}

}  // namespace marovin_host
