# Turns files into a C++ source of byte arrays at build time, so that a
# program can serve them without reading the file system.
#
#   marovin_embed_files(OUTPUT out.cpp ASSETS URL KIND FILE [URL KIND FILE]...)
#
# The source defines marovin_host::kWebAssets and kWebAssetCount (web/page/Assets.h).
# Run with -P, the file is its own generator: ASSET_LIST names the asset list, OUTPUT the source.
if(CMAKE_SCRIPT_MODE_FILE)
  # A missing list would make a panel without a page, found only in the browser.
  if(NOT EXISTS "${ASSET_LIST}")
    message(FATAL_ERROR "EmbedFiles: asset list '${ASSET_LIST}' not found")
  endif()
  file(STRINGS "${ASSET_LIST}" _lines)
  set(_arrays "")
  set(_table "")
  set(_i 0)
  foreach(_line IN LISTS _lines)
    string(REPLACE "|" ";" _parts "${_line}")
    list(GET _parts 0 _url)
    list(GET _parts 1 _kind)
    list(GET _parts 2 _file)
    file(READ "${_file}" _hex HEX)
    string(LENGTH "${_hex}" _len)
    math(EXPR _size "${_len} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
    string(APPEND _arrays "const unsigned char kData${_i}[] = {${_bytes}};\n")
    string(APPEND _table "    {\"${_url}\", \"${_kind}\", kData${_i}, ${_size}},\n")
    math(EXPR _i "${_i} + 1")
  endforeach()
  file(WRITE "${OUTPUT}.tmp" "// Made by cmake/EmbedFiles.cmake from ${ASSET_LIST}.\n#include \"web/page/Assets.h\"\n\n"
    "namespace marovin_host {\n\nnamespace {\n${_arrays}}  // namespace\n\n"
    "const WebAsset kWebAssets[] = {\n${_table}};\nconst std::size_t kWebAssetCount = ${_i};\n\n}  // namespace marovin_host\n")
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
  return()
endif()

set(_marovin_embed_script ${CMAKE_CURRENT_LIST_FILE})
function(marovin_embed_files)
  cmake_parse_arguments(E "" "OUTPUT" "ASSETS" ${ARGN})
  set(_spec "")
  set(_files "")
  list(LENGTH E_ASSETS _n)
  math(EXPR _last "${_n} - 1")
  foreach(_k RANGE 0 ${_last} 3)
    math(EXPR _k1 "${_k} + 1")
    math(EXPR _k2 "${_k} + 2")
    list(GET E_ASSETS ${_k} _url)
    list(GET E_ASSETS ${_k1} _kind)
    list(GET E_ASSETS ${_k2} _file)
    string(APPEND _spec "${_url}|${_kind}|${_file}\n")
    list(APPEND _files ${_file})
  endforeach()
  file(GENERATE OUTPUT ${E_OUTPUT}.list CONTENT "${_spec}")
  add_custom_command(OUTPUT ${E_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -DASSET_LIST=${E_OUTPUT}.list -DOUTPUT=${E_OUTPUT} -P ${_marovin_embed_script}
    DEPENDS ${_files} ${_marovin_embed_script} ${E_OUTPUT}.list
    COMMENT "Embedding the web panel's files"
    VERBATIM)
endfunction()
