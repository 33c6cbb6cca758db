// The tags by name, made once from the rows (which never change in number or
// name during a run), for looking a tag up from another thread.
#ifndef MAROVIN_HOST_MODEL_TAG_DIRECTORY_H
#define MAROVIN_HOST_MODEL_TAG_DIRECTORY_H

#include "model/TagRow.h"

#include <map>
#include <string>
#include <vector>

namespace marovin_host {

class TagDirectory {
public:
    explicit TagDirectory(const std::vector<TagRow> &rows);
    // The tag's index in the rows, or -1.
    long indexOf(const std::string &name) const;

private:
    std::map<std::string, long> byName_;
};

}  // namespace marovin_host

#endif
