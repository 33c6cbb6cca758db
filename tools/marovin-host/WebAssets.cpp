#include "WebAssets.h"

#include <cstring>

namespace marovin_host {

const WebAsset *findWebAsset(const std::string &path)
{
    for (std::size_t i = 0; i < kWebAssetCount; ++i) {
        if (path == kWebAssets[i].path)
            return &kWebAssets[i];
    }
    return nullptr;
}

const char *webAssetType(const char *kind)
{
    if (std::strcmp(kind, "html") == 0)
        return "text/html; charset=utf-8";
    if (std::strcmp(kind, "js") == 0)
        return "text/javascript; charset=utf-8";
    return "text/css; charset=utf-8";
}

}  // namespace marovin_host
