# Provides marovin_protobuf_library(TARGET PROTO): PROTO (a .proto of the
# calling folder, optimize_for LITE_RUNTIME) compiled by Debian's protoc
# (protobuf-compiler) into C++ in the build folder, built as the static
# library TARGET against libprotobuf-lite (libprotobuf-dev). Found by file,
# like cmake/Mosquitto.cmake, so that a cross build runs the build machine's
# protoc and links the sysroot's library of the same version.
if(NOT TARGET Protobuf::Lite)
  find_program(MAROVIN_PROTOC protoc REQUIRED)
  find_path(MAROVIN_PROTOBUF_INCLUDE google/protobuf/message_lite.h REQUIRED)
  find_library(MAROVIN_PROTOBUF_LITE_LIB NAMES protobuf-lite REQUIRED)
  add_library(Protobuf::Lite UNKNOWN IMPORTED GLOBAL)
  set_target_properties(Protobuf::Lite PROPERTIES
    IMPORTED_LOCATION ${MAROVIN_PROTOBUF_LITE_LIB}
    INTERFACE_INCLUDE_DIRECTORIES ${MAROVIN_PROTOBUF_INCLUDE})
endif()

function(marovin_protobuf_library target proto)
  get_filename_component(name ${proto} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/proto)
  add_custom_command(
    OUTPUT ${out}/${name}.pb.cc ${out}/${name}.pb.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${MAROVIN_PROTOC} --cpp_out=${out} -I ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${proto}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${proto}
    COMMENT "protoc ${proto}")
  # Generated code: built without the project's warning flags.
  add_library(${target} STATIC ${out}/${name}.pb.cc)
  target_include_directories(${target} SYSTEM PUBLIC ${out})
  target_link_libraries(${target} PUBLIC Protobuf::Lite)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()
