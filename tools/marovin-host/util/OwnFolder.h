// Where this executable lives, to find the library and simulator installed
// beside it.
#ifndef MAROVIN_HOST_UTIL_OWN_FOLDER_H
#define MAROVIN_HOST_UTIL_OWN_FOLDER_H

#include <string>

namespace marovin_host {

// The folder of this executable, from /proc/self/exe; empty if unknown.
std::string ownFolder();

// True when this executable runs from inside the build tree that made it. Only
// then are the build's library and simulator used: for an installed copy that
// path is just a name anyone may have created.
bool runsInBuildTree();

}  // namespace marovin_host

#endif
