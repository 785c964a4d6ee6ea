# Writes a UTF-8 text so that Notepad shows it right on every Windows version: with a byte-order
# mark (older Notepads take a text without one for the ANSI code page) and CR LF line ends
# (older Notepads show LF alone as no line break at all).
#
#   cmake -D SOURCE=<in>[;<in>...] -D OUTPUT=<out> [-D END_MARKER=<line>] [-D MARKDOWN=ON]
#         [-D RELEASED_ONLY=ON] -P NotepadText.cmake
#
# Each SOURCE is UTF-8 with LF or CR LF line ends; several are written one after the other, two
# empty lines apart. When END_MARKER is given, each source stops before its first line equal to
# it: what follows is for readers of the source only. The output always ends with a line end.
#
# MARKDOWN=ON makes plain text of the Markdown the guide and the changelogs are written in, so
# that Notepad shows no mark of it:
# - a heading "# Title" becomes the line "Title" underlined with "=", "## Title" one underlined
#   with "-" (as wide as the title: a character beyond ASCII counts two columns, as a Japanese
#   font shows it), "### Title" and deeper the plain line "Title";
# - `code` loses its backticks, **strong** its stars, *emphasis* (in these texts the name of a
#   button or a field) stands in double quotes, a link [text](address) becomes "text (address)";
# - a block of lines indented by four blanks or more is code and stays as it is, as do the lines
#   between ``` fences, which are indented by four blanks; lists stay as they are ("- ", "1. ");
# - a line that is an HTML comment <!-- ... --> is dropped;
# - the lines from "<!-- Linux only -->" to "<!-- end of Linux only -->" are dropped with both
#   marks and the empty lines after them, so that the spacing before the start mark stands: they
#   are for the Linux programs, whose users read the Markdown itself (the Debian package ships
#   it), while these texts are the Windows package's.
# RELEASED_ONLY=ON (with MARKDOWN, for a changelog) drops every "## " section whose title does not
# start with a version number, such as "## Since 1.20 (not yet released)".
if(NOT DEFINED SOURCE OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "usage: cmake -D SOURCE=<in>[;<in>...] -D OUTPUT=<out> [-D END_MARKER=<line>] "
                      "[-D MARKDOWN=ON] [-D RELEASED_ONLY=ON] -P NotepadText.cmake")
endif()

string(ASCII 239 187 191 byte_order_mark)
# Stand-ins, while a text is a CMake list of lines, for the characters a list treats specially.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)
# The marks around what only users of the Linux programs read.
set(linux_only_start "<!-- Linux only -->")
set(linux_only_end "<!-- end of Linux only -->")

# The number of columns text takes in a Japanese font: ASCII one, any other character two.
function(display_width text out)
  string(LENGTH "${text}" bytes)
  set(width 0)
  set(i 0)
  while(i LESS bytes)
    string(SUBSTRING "${text}" ${i} 1 byte)
    string(HEX "${byte}" hex)
    if(hex MATCHES "^[0-7]")
      math(EXPR width "${width} + 1")
    elseif(hex MATCHES "^(c|d|e|f)")  # the first byte of a character beyond ASCII
      math(EXPR width "${width} + 2")
    endif()
    math(EXPR i "${i} + 1")
  endwhile()
  set(${out} ${width} PARENT_SCOPE)
endfunction()

function(underline text character out)
  display_width("${text}" width)
  string(REPEAT "${character}" ${width} line)
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# Inline marks of one paragraph (its lines joined by LF), so that a mark may span lines.
function(plain_inline text out)
  string(REGEX REPLACE "`([^`]*)`" "\\1" text "${text}")
  string(REGEX REPLACE "\\*\\*([^*]+)\\*\\*" "\\1" text "${text}")
  string(REGEX REPLACE "\\*([^*\n ][^*]*)\\*" "\"\\1\"" text "${text}")
  string(REGEX REPLACE "${open_bracket}([^${close_bracket}]*)${close_bracket}\\(([^)]*)\\)"
         "\\1 (\\2)" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# One paragraph as plain text: code as it is, headings underlined, comments dropped.
function(plain_paragraph paragraph out)
  string(REGEX REPLACE "\n$" "" paragraph "${paragraph}")
  if(NOT paragraph MATCHES "(^|\n) ? ? ?[^ \n]")
    set(${out} "${paragraph}\n" PARENT_SCOPE)  # every line indented by four blanks: code
    return()
  endif()
  plain_inline("${paragraph}" paragraph)
  string(REPLACE "\n" ";" lines "${paragraph}")
  set(result "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^<!--.*-->$")
      continue()
    elseif(line MATCHES "^# +(.*)$")
      underline("${CMAKE_MATCH_1}" "=" rule)
      string(APPEND result "${CMAKE_MATCH_1}\n${rule}\n")
    elseif(line MATCHES "^## +(.*)$")
      underline("${CMAKE_MATCH_1}" "-" rule)
      string(APPEND result "${CMAKE_MATCH_1}\n${rule}\n")
    elseif(line MATCHES "^###+ +(.*)$")
      string(APPEND result "${CMAKE_MATCH_1}\n")
    else()
      string(APPEND result "${line}\n")
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(plain_markdown text out)
  string(REPLACE "\n" ";" lines "${text}")
  set(result "")
  set(paragraph "")
  set(fenced OFF)
  set(skipping OFF)
  set(linux_only OFF)
  set(after_linux_only OFF)
  foreach(line IN LISTS lines)
    if(after_linux_only AND line STREQUAL "")
      continue()
    endif()
    set(after_linux_only OFF)
    if(NOT fenced)
      if(line STREQUAL linux_only_start)
        if(linux_only)
          message(FATAL_ERROR "${source}: '${linux_only_start}' inside another")
        endif()
        set(linux_only ON)
        continue()
      elseif(line STREQUAL linux_only_end)
        if(NOT linux_only)
          message(FATAL_ERROR "${source}: '${linux_only_end}' without its start")
        endif()
        set(linux_only OFF)
        set(after_linux_only ON)
        continue()
      endif()
      if(linux_only)
        continue()
      endif()
    endif()
    if(RELEASED_ONLY AND NOT fenced)
      if(line MATCHES "^## +(.*)$")
        if(CMAKE_MATCH_1 MATCHES "^[0-9]")
          set(skipping OFF)
        else()
          set(skipping ON)
        endif()
      elseif(line MATCHES "^# ")
        set(skipping OFF)
      endif()
      if(skipping)
        continue()
      endif()
    endif()
    if(fenced)
      if(line MATCHES "^```")
        set(fenced OFF)
      elseif(line STREQUAL "")
        string(APPEND result "\n")
      else()
        string(APPEND result "    ${line}\n")
      endif()
    elseif(line MATCHES "^```")
      plain_paragraph("${paragraph}" done)
      string(APPEND result "${done}")
      set(paragraph "")
      set(fenced ON)
    elseif(line STREQUAL "")
      if(NOT paragraph STREQUAL "")
        plain_paragraph("${paragraph}" done)
        string(APPEND result "${done}")
        set(paragraph "")
      endif()
      string(APPEND result "\n")
    else()
      string(APPEND paragraph "${line}\n")
    endif()
  endforeach()
  if(linux_only)
    message(FATAL_ERROR "${source}: '${linux_only_start}' without '${linux_only_end}'")
  endif()
  if(NOT paragraph STREQUAL "")
    plain_paragraph("${paragraph}" done)
    string(APPEND result "${done}")
  endif()
  # A dropped section or comment may leave more empty lines than the source had anywhere.
  string(REGEX REPLACE "\n\n\n\n+" "\n\n\n" result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

set(output "")
foreach(source IN LISTS SOURCE)
  file(READ "${source}" text)
  string(FIND "${text}" "${byte_order_mark}" position)
  if(position EQUAL 0)
    string(SUBSTRING "${text}" 3 -1 text)
  endif()
  string(REPLACE "\r\n" "\n" text "${text}")
  if(text MATCHES "\r")
    message(FATAL_ERROR "${source}: a CR that is not part of a CR LF line end")
  endif()
  if(text MATCHES "[${semicolon}${open_bracket}${close_bracket}]")
    message(FATAL_ERROR "${source}: a control character 0x01 to 0x03")
  endif()

  if(DEFINED END_MARKER AND NOT END_MARKER STREQUAL "")
    string(FIND "\n${text}" "\n${END_MARKER}\n" position)
    if(position EQUAL -1)
      message(FATAL_ERROR "${source}: no line '${END_MARKER}'")
    endif()
    string(SUBSTRING "${text}" 0 ${position} text)
  endif()

  if(MARKDOWN)
    string(REPLACE ";" "${semicolon}" text "${text}")
    string(REPLACE "[" "${open_bracket}" text "${text}")
    string(REPLACE "]" "${close_bracket}" text "${text}")
    plain_markdown("${text}" text)
    string(REPLACE "${semicolon}" ";" text "${text}")
    string(REPLACE "${open_bracket}" "[" text "${text}")
    string(REPLACE "${close_bracket}" "]" text "${text}")
  endif()

  # One line end at the very end, whatever blank lines stood before the marker.
  string(REGEX REPLACE "\n+$" "" text "${text}")
  if(NOT output STREQUAL "")
    string(APPEND output "\n\n\n")
  endif()
  string(APPEND output "${text}")
endforeach()

string(REPLACE "\n" "\r\n" output "${output}")
file(WRITE "${OUTPUT}" "${byte_order_mark}${output}\r\n")
