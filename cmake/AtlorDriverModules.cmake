# Driver-description resources and driver libraries.
#
# atlor_embed_driver_resources(<target> FUNCTION <qualified name> FILES <xml>...)
#   Embeds the documents into <target> as its description resources (kind "DRIVERLISTDATA"):
#   a generated source defines `std::span<const atlor::TDriverResource> <qualified name>()`,
#   one resource per file, named after the file without its extension, sorted by name. A
#   document declared "windows-1251" and kept as UTF-8 is stored in code page 1251.
#
# atlor_add_driver_library(<name> SOURCES <src>... RESOURCES <xml>... [LIBRARIES <target>...]
#                          [OUTPUT_DIRECTORY <dir>])
#   Builds the driver library <name>.so (the name must begin with "ArDb") into the program's
#   folder, or into <dir>. One of the sources holds `ATLOR_DRIVER_LIBRARY(<register function>)`
#   (ardb/driver_module.h); the resources become `atlor::DriverLibraryResources()`. The library
#   links its own copy of the registry and of the database layer (atlor_drivers) and of
#   <LIBRARIES>; only the two entry points are exported.

function(atlor_embed_driver_resources target)
  cmake_parse_arguments(ARG "" "FUNCTION" "FILES" ${ARGN})
  if(NOT ARG_FUNCTION)
    message(FATAL_ERROR "atlor_embed_driver_resources: FUNCTION is required")
  endif()
  set(files)
  foreach(file IN LISTS ARG_FILES)
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND files "${file}")
  endforeach()
  string(MAKE_C_IDENTIFIER "${ARG_FUNCTION}" function_id)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_${function_id}.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND atlor_embed_resources "${output}" "${ARG_FUNCTION}" ${files}
    DEPENDS atlor_embed_resources ${files}
    COMMENT "Embedding driver descriptions into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()

function(atlor_add_driver_library name)
  cmake_parse_arguments(ARG "" "OUTPUT_DIRECTORY" "SOURCES;RESOURCES;LIBRARIES" ${ARGN})
  if(NOT name MATCHES "^ArDb")
    message(FATAL_ERROR "atlor_add_driver_library: a driver library's name begins with ArDb")
  endif()
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".so")
  if(ARG_OUTPUT_DIRECTORY)
    set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}")
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} atlor_drivers)
  # Keep the library's own copies of every symbol to itself.
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  if(NOT ATLOR_SANITIZE)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  atlor_embed_driver_resources(${name} FUNCTION atlor::DriverLibraryResources
                               FILES ${ARG_RESOURCES})
endfunction()
