# The web panel (--http): its sources, Debian's cpp-httplib, and the page's
# files with Debian's chart library compiled into the binary, so that the
# panel works on a machine without internet and serves nothing from disk.
include(${CMAKE_SOURCE_DIR}/cmake/CppHttplib.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/EmbedFiles.cmake)
find_path(MAROVIN_DYGRAPHS dygraph.min.js PATHS /usr/share/javascript/dygraphs NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_web ${CMAKE_CURRENT_SOURCE_DIR}/web)
marovin_embed_files(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/WebAssetData.cpp ASSETS
  / html ${_web}/index.html
  /app.js js ${_web}/app.js
  /style.css css ${_web}/style.css
  /dygraph.min.js js ${MAROVIN_DYGRAPHS}/dygraph.min.js
  /dygraph.min.css css ${MAROVIN_DYGRAPHS}/dygraph.min.css)
target_sources(marovin_host_core PRIVATE
  HttpConnection.cpp
  HttpOptions.cpp
  HttpWorkers.cpp
  Metrics.cpp
  TagHistory.cpp
  TraceRing.cpp
  WebAccess.cpp
  WebAssets.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/WebAssetData.cpp
  WebEvents.cpp
  WebFeed.cpp
  WebJson.cpp
  WebOutput.cpp
  WebReadRoutes.cpp
  WebServer.cpp
  WebWriteRoute.cpp
  WebWrites.cpp)
target_link_libraries(marovin_host_core PUBLIC marovin_httplib)
