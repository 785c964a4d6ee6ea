# native_help(<target> <usage-file> [NAME <name>] [MANUAL_PAGE <page>])
#
# Gives the native program <target> what the POSIX layer's entry answers to -h or --help and to
# -V or --version: the program's name (<name>, the native file's name; the target's unless given), the
# text of <usage-file>, byte for byte, and the version in GNU's form, with the copyright line of
# LICENSE. With MANUAL_PAGE, as for a program that is installed with its manual page, the help
# ends by naming that page and where to report problems (cmake/ReportAddress.cmake). The layer's
# template becomes a source of the program, so the program's own code defines none of it.
function(native_help target usage_file)
  cmake_parse_arguments(PARSE_ARGV 2 help "" "NAME;MANUAL_PAGE" "")
  if(help_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "native_help(${target}): unknown ${help_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT help_NAME)
    set(help_NAME ${target})
  endif()
  get_filename_component(usage_path ${usage_file} ABSOLUTE)
  file(READ ${usage_path} NATIVE_HELP_USAGE)
  if(help_MANUAL_PAGE)
    native_help_wrap(report "Report problems ${REPORT_TO_EN}.")
    string(APPEND NATIVE_HELP_USAGE "\nFull documentation: man ${help_MANUAL_PAGE}\n${report}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${usage_path})
  # The text stands in a raw string literal, which its closing delimiter would end early.
  string(FIND "${NATIVE_HELP_USAGE}" ")usage\"" delimiter_at)
  if(NOT delimiter_at EQUAL -1)
    message(FATAL_ERROR "${usage_file} holds the text )usage\" that ends the help's string")
  endif()
  native_help_copyright(NATIVE_HELP_COPYRIGHT)
  set(NATIVE_HELP_NAME ${help_NAME})
  file(RELATIVE_PATH NATIVE_HELP_USAGE_FILE ${PROJECT_SOURCE_DIR} ${usage_path})
  set(layer ${PROJECT_SOURCE_DIR}/common/posix)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_native_help.cpp)
  configure_file(${layer}/native_help.cpp.in ${source} @ONLY)
  set_source_files_properties(${source} PROPERTIES INCLUDE_DIRECTORIES ${layer})
  target_sources(${target} PRIVATE ${source})
endfunction()

# The help fits a terminal of 80 columns, as GNU's do.
set(NATIVE_HELP_COLUMNS 80)

# Sets <out> to the words of <text> in lines of at most NATIVE_HELP_COLUMNS characters, broken at
# blanks, each line ending in a line end.
function(native_help_wrap out text)
  # The words are a CMake list, which a semicolon would split.
  if(text MATCHES ";")
    message(FATAL_ERROR "the help's text '${text}' holds a semicolon")
  endif()
  string(REPLACE " " ";" words "${text}")
  set(lines "")
  set(line "")
  foreach(word IN LISTS words)
    string(LENGTH "${line} ${word}" length)
    if(line STREQUAL "")
      set(line "${word}")
    elseif(length GREATER NATIVE_HELP_COLUMNS)
      string(APPEND lines "${line}\n")
      set(line "${word}")
    else()
      string(APPEND line " ${word}")
    endif()
  endforeach()
  set(${out} "${lines}${line}\n" PARENT_SCOPE)
endfunction()

# Sets <out> to the years and holder of the copyright of LICENSE, an MIT licence: what follows
# "Copyright (c) " on its one copyright line.
function(native_help_copyright out)
  set(license ${PROJECT_SOURCE_DIR}/LICENSE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license})
  file(STRINGS ${license} first_line LIMIT_COUNT 1)
  file(STRINGS ${license} copyright REGEX "^Copyright \\(c\\) .")
  list(LENGTH copyright copyright_lines)
  if(NOT first_line STREQUAL "MIT License" OR NOT copyright_lines EQUAL 1)
    message(FATAL_ERROR "${license} is not an MIT licence with one copyright line, as --version says")
  endif()
  string(REGEX REPLACE "^Copyright \\(c\\) " "" holder "${copyright}")
  set(${out} "${holder}" PARENT_SCOPE)
endfunction()
