# native_help(<target> <usage-file> [NAME <name>])
#
# Gives the native program <target> what the POSIX layer's entry answers to --help and --version:
# the program's name (<name>, the native file's name; the target's unless given) and the text of
# <usage-file>, byte for byte. The layer's template becomes a source of the program, so the
# program's own code defines neither.
function(native_help target usage_file)
  cmake_parse_arguments(PARSE_ARGV 2 help "" "NAME" "")
  if(NOT help_NAME)
    set(help_NAME ${target})
  endif()
  get_filename_component(usage_path ${usage_file} ABSOLUTE)
  file(READ ${usage_path} NATIVE_HELP_USAGE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${usage_path})
  # The text stands in a raw string literal, which its closing delimiter would end early.
  string(FIND "${NATIVE_HELP_USAGE}" ")usage\"" delimiter_at)
  if(NOT delimiter_at EQUAL -1)
    message(FATAL_ERROR "${usage_file} holds the text )usage\" that ends the help's string")
  endif()
  set(NATIVE_HELP_NAME ${help_NAME})
  file(RELATIVE_PATH NATIVE_HELP_USAGE_FILE ${PROJECT_SOURCE_DIR} ${usage_path})
  set(layer ${PROJECT_SOURCE_DIR}/common/posix)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_native_help.cpp)
  configure_file(${layer}/native_help.cpp.in ${source} @ONLY)
  set_source_files_properties(${source} PROPERTIES INCLUDE_DIRECTORIES ${layer})
  target_sources(${target} PRIVATE ${source})
endfunction()
