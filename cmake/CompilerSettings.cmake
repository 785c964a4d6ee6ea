# Flags every target of the project gets: warnings, and the character sets. Sources are UTF-8;
# every text the programs show must be code page 932 bytes in the binary.
if(MSVC)
  add_compile_options(/W4 /source-charset:utf-8 /execution-charset:.932 /permissive-)
  if(PANEFIX_WERROR)
    add_compile_options(/WX)
  endif()
else()
  add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
                      -Wcast-qual -Wformat=2 -Wold-style-cast
                      -finput-charset=UTF-8 -fexec-charset=CP932)
  if(PANEFIX_WERROR)
    add_compile_options(-Werror)
  endif()
  # No build folder lands in a program: a path the compiler writes (__FILE__, debug information)
  # is written relative to the source or build folder, so that the same sources give the same
  # program in whatever folder they are built.
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>")
endif()

if(PANEFIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# The Windows programs carry their whole runtime inside, so that they need no DLL beyond those
# of Windows itself.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# The native programs carry their whole runtime inside as well, as position-independent static
# executables: loading shared libraries at every start takes longer than repairing a whole
# settings file. The sanitizer and fuzzing runtimes need shared linking, so those builds keep it.
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
