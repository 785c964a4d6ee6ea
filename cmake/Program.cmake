# panefix_add_program(<target>
#                     SOURCES <source>...
#                     LIBRARIES <library>...
#                     WINDOWS_NAME <name>
#                     RESOURCES <resource-script>
#                     [RESOURCE_FILES <file>...]
#                     FILE_VERSION <four numbers>
#                     NATIVE_USAGE <text-file>)
#
# Makes one of the two programs from its entry SOURCES and its logic LIBRARIES, linked with the
# build's platform layer (PANEFIX_PLATFORM) and carrying its whole runtime inside.
#
# For Windows it is the GUI program <WINDOWS_NAME>.exe. Its RESOURCES script embeds the manifest
# both programs share (common/app.manifest), the version record of the product version and of
# the program's FILE_VERSION, and the RESOURCE_FILES (the icon), which lie beside the script.
# The resource compiler finds the manifest and those files through the include paths of the
# libraries the program links: common/ from the settings-file library, the program's own folder
# from its logic library.
#
# Natively it is <target>, whose --help prints the text of NATIVE_USAGE and names its manual
# page, docs/man/<target>.1. The Linux release (PANEFIX_LINUX_RELEASE) makes it a second time, as
# <target>_shared (below).
function(panefix_add_program target)
  cmake_parse_arguments(PARSE_ARGV 1 program ""
                        "WINDOWS_NAME;RESOURCES;FILE_VERSION;NATIVE_USAGE"
                        "SOURCES;LIBRARIES;RESOURCE_FILES")
  if(program_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "panefix_add_program(${target}): unknown ${program_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required IN ITEMS SOURCES LIBRARIES WINDOWS_NAME RESOURCES FILE_VERSION NATIVE_USAGE)
    if(NOT program_${required})
      message(FATAL_ERROR "panefix_add_program(${target}) needs ${required}")
    endif()
  endforeach()

  if(WIN32)
    add_executable(${target} WIN32 ${program_SOURCES} ${program_RESOURCES})
    version_record_definitions(version_definitions ${program_FILE_VERSION})
    set(embedded ${PROJECT_SOURCE_DIR}/common/app.manifest)
    foreach(file IN LISTS program_RESOURCE_FILES)
      list(APPEND embedded ${CMAKE_CURRENT_SOURCE_DIR}/${file})
    endforeach()
    set_source_files_properties(${program_RESOURCES} PROPERTIES
      COMPILE_DEFINITIONS "${version_definitions}"
      OBJECT_DEPENDS "${embedded}")
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${program_WINDOWS_NAME})
  else()
    add_executable(${target} ${program_SOURCES})
    native_help(${target} ${program_NATIVE_USAGE} MANUAL_PAGE ${target})
    if(PANEFIX_LINUX_RELEASE)
      add_shared_twin(${target} "${program_SOURCES}" "${program_LIBRARIES}"
                      ${program_NATIVE_USAGE})
    endif()
  endif()
  link_program_runtime(${target})
  target_link_libraries(${target} PRIVATE ${program_LIBRARIES} ${PANEFIX_PLATFORM})
endfunction()

# The Debian package holds the native programs linked to the system's shared C and C++
# libraries, as Debian's own programs are: Debian's updates of those libraries then reach them,
# and its tools compute the package's dependencies from what they load. <target>_shared is
# <target> made of the same sources and libraries, linked so, and lands in shared/ under the same
# file name, which --help and --version print. The static <target> is the one the tests run and
# the tarball ships.
function(add_shared_twin target sources libraries usage_file)
  set(twin ${target}_shared)
  add_executable(${twin} ${sources})
  native_help(${twin} ${usage_file} NAME ${target} MANUAL_PAGE ${target})
  set_target_properties(${twin} PROPERTIES
    OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/shared)
  target_link_libraries(${twin} PRIVATE ${libraries} ${PANEFIX_PLATFORM})
endfunction()

# The native programs carry their whole runtime inside, as position-independent static
# executables: loading shared libraries at every start takes longer than repairing a whole
# settings file. The sanitizer and fuzzing runtimes need shared linking, so those builds keep it.
# (The Windows programs link their runtime statically like every Windows target of the build:
# cmake/CompilerSettings.cmake.)
#
# The Windows programs are linked stripped, so that the files the Wine tests run are the files the
# release package ships: the static runtime would otherwise bring two thirds of each file in
# symbols and debug information. A map file beside each program keeps the addresses of its
# functions, to find the place a "Runtime error ... at" report names.
#
# The Windows linker writes no time of its own into a program (the PE header's TimeDateStamp is
# 0, and its checksum with it): two builds of one commit give the same bytes, whenever and
# wherever they are made.
function(link_program_runtime target)
  if(NOT WIN32 AND NOT PANEFIX_SANITIZE AND NOT PANEFIX_FUZZ
     AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_link_options(${target} PRIVATE -static-pie)
  endif()
  if(MINGW)
    target_link_options(${target} PRIVATE -s "-Wl,-Map=$<TARGET_FILE:${target}>.map"
                        -Wl,--no-insert-timestamp)
  endif()
endfunction()
