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

# The Linux release is built the way Debian builds its own programs: checked buffer functions,
# stack guards, and a relocation table that is read-only once the program has started. Debian's
# compiler makes position-independent executables by default, which both the static and the
# shared programs are. The other builds keep the compiler's defaults, so that what their tests
# and sanitizers see is not changed by these checks.
#
# With checked buffer functions the C library also asks for the result of calls such as
# ftruncate to be used. The platform layer drops it on purpose where a call only tries to undo a
# step that has already failed, and GCC cannot be told so by a cast to void; the other builds,
# which see no such request, keep every other unused-result warning as an error.
if(PANEFIX_LINUX_RELEASE)
  add_compile_options(-D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wno-unused-result)
  add_link_options(-Wl,-z,relro,-z,now)
endif()
