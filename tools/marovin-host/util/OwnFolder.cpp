#include "util/OwnFolder.h"

#include <cstdlib>

#include <unistd.h>

#ifndef MAROVIN_HOST_BUILD_ROOT
#define MAROVIN_HOST_BUILD_ROOT ""
#endif

namespace marovin_host {

std::string ownFolder()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    std::string path(buffer, static_cast<size_t>(n));
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool runsInBuildTree()
{
    const std::string root = MAROVIN_HOST_BUILD_ROOT;
    if (root.empty())
        return false;
    char *real = realpath(root.c_str(), nullptr);
    if (!real)
        return false;
    const std::string tree = std::string(real) + "/";
    std::free(real);
    // /proc/self/exe is canonical already.
    const std::string folder = ownFolder() + "/";
    return folder.compare(0, tree.size(), tree) == 0;
}

}  // namespace marovin_host
