#include "web/page/Assets.h"

#include <cstring>

namespace marovin_host {

const char *webAssetType(const char *kind)
{
    if (std::strcmp(kind, "html") == 0)
        return "text/html; charset=utf-8";
    if (std::strcmp(kind, "js") == 0)
        return "text/javascript; charset=utf-8";
    return "text/css; charset=utf-8";
}

}  // namespace marovin_host
