# Warning flags every target of the project uses.
add_library(marovin_warnings INTERFACE)
target_compile_options(marovin_warnings INTERFACE -Wall -Wextra)
if(MAROVIN_WERROR)
  target_compile_options(marovin_warnings INTERFACE -Werror)
endif()
