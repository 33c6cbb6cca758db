// Where this executable lives, to find the library and simulator installed
// beside it.
#ifndef MAROVIN_HOST_OWN_FOLDER_H
#define MAROVIN_HOST_OWN_FOLDER_H

#include <string>

namespace marovin_host {

// The folder of this executable, from /proc/self/exe; empty if unknown.
std::string ownFolder();

}  // namespace marovin_host

#endif
