// The page's files, compiled into the program (nothing is served from the
// file system): the page, its script and style, and the chart library.
#ifndef MAROVIN_HOST_WEB_PAGE_ASSETS_H
#define MAROVIN_HOST_WEB_PAGE_ASSETS_H

#include <cstddef>
#include <string>

namespace marovin_host {

struct WebAsset {
    const char *path;  // "/", "/app.js", ...
    const char *kind;  // html, js or css
    const unsigned char *data;
    std::size_t size;
};

// Made at build time from tools/marovin-host/web and the chart library.
extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;

// The Content-Type of an asset kind.
const char *webAssetType(const char *kind);

}  // namespace marovin_host

#endif
