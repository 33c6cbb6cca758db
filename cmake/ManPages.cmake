# Man pages of the tools. marovin-host(1) and marovin-sim(1) are made at build
# time by help2man from the tools' own --help and --version, so they list the
# options the programs really have; docs/man/<tool>.h2m adds the hand-written
# sections (files, examples, see also). cmake --install puts them into
# share/man/man1 (the hand-written pages, marovin-tags(5) among them, are
# installed by Install.cmake). A cross build runs the tools under its
# emulator; a sanitizer build makes none (the pages would be the same).
option(MAROVIN_BUILD_MANPAGES "Make the man pages of marovin-host and marovin-sim with help2man" ON)

if(NOT MAROVIN_BUILD_TOOLS OR NOT MAROVIN_BUILD_MANPAGES OR MAROVIN_SANITIZE)
  return()
endif()
find_program(MAROVIN_HELP2MAN help2man)
if(NOT MAROVIN_HELP2MAN)
  message(STATUS "man pages: help2man not found, marovin-host.1 and marovin-sim.1 are not made")
  return()
endif()

set(_marovin_man_name_marovin-host "run the Marovin PLC driver like an operator-panel runtime")
set(_marovin_man_name_marovin-sim "PLC simulator for the Marovin driver")
# help2man runs the program through a shell: the emulator goes in front.
string(REPLACE ";" " " _marovin_man_runner "${CMAKE_CROSSCOMPILING_EMULATOR}")

set(_marovin_man_pages)
foreach(tool marovin-host marovin-sim)
  if(NOT TARGET ${tool})
    continue()
  endif()
  set(_page ${CMAKE_BINARY_DIR}/man/${tool}.1)
  set(_include ${CMAKE_SOURCE_DIR}/docs/man/${tool}.h2m)
  string(STRIP "${_marovin_man_runner} $<TARGET_FILE:${tool}>" _marovin_man_program)
  add_custom_command(OUTPUT ${_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
      ${MAROVIN_HELP2MAN} --no-info --section=1 --name=${_marovin_man_name_${tool}}
        --include=${_include} --output=${_page}
        "${_marovin_man_program}"
    DEPENDS ${tool} ${_include}
    COMMENT "help2man: ${tool}.1"
    VERBATIM)
  list(APPEND _marovin_man_pages ${_page})
endforeach()
add_custom_target(marovin_man_pages ALL DEPENDS ${_marovin_man_pages})
install(FILES ${_marovin_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
