# MAROVIN_SANITIZE: empty, "address;undefined", or "thread". Applied to every
# target so that the library, tests and tools agree on the runtime.
set(MAROVIN_SANITIZE "" CACHE STRING "Sanitizers to build with (address;undefined or thread)")
if(MAROVIN_SANITIZE)
  string(REPLACE ";" "," _marovin_san "${MAROVIN_SANITIZE}")
  add_compile_options(-fsanitize=${_marovin_san} -fno-omit-frame-pointer)
  # Reports need line numbers; a build type with debug information keeps its own level.
  add_compile_options($<$<NOT:$<OR:$<CONFIG:Debug>,$<CONFIG:RelWithDebInfo>>>:-g1>)
  add_link_options(-fsanitize=${_marovin_san})
  if("undefined" IN_LIST MAROVIN_SANITIZE)
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
