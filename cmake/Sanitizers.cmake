# MAROVIN_SANITIZE: empty, "address;undefined", or "thread". Applied to every
# target so that the library, tests and tools agree on the runtime.
set(MAROVIN_SANITIZE "" CACHE STRING "Sanitizers to build with (address;undefined or thread)")
if(MAROVIN_SANITIZE)
  string(REPLACE ";" "," _marovin_san "${MAROVIN_SANITIZE}")
  add_compile_options(-fsanitize=${_marovin_san} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${_marovin_san})
  if("undefined" IN_LIST MAROVIN_SANITIZE)
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
