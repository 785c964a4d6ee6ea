# Writes a UTF-8 text so that Notepad shows it right on every Windows version: with a byte-order
# mark (older Notepads take a text without one for the ANSI code page) and CR LF line ends
# (older Notepads show LF alone as no line break at all).
#
#   cmake -D SOURCE=<in> -D OUTPUT=<out> [-D END_MARKER=<line>] -P NotepadText.cmake
#
# SOURCE is UTF-8 with LF or CR LF line ends. When END_MARKER is given, the text stops before the
# first line equal to it: what follows is for readers of the source only. The output always ends
# with a line end.
if(NOT DEFINED SOURCE OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "usage: cmake -D SOURCE=<in> -D OUTPUT=<out> [-D END_MARKER=<line>] -P NotepadText.cmake")
endif()

string(ASCII 239 187 191 byte_order_mark)

file(READ "${SOURCE}" text)
string(FIND "${text}" "${byte_order_mark}" position)
if(position EQUAL 0)
  string(SUBSTRING "${text}" 3 -1 text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
if(text MATCHES "\r")
  message(FATAL_ERROR "${SOURCE}: a CR that is not part of a CR LF line end")
endif()

if(DEFINED END_MARKER AND NOT END_MARKER STREQUAL "")
  string(FIND "\n${text}" "\n${END_MARKER}\n" position)
  if(position EQUAL -1)
    message(FATAL_ERROR "${SOURCE}: no line '${END_MARKER}'")
  endif()
  string(SUBSTRING "${text}" 0 ${position} text)
endif()

# One line end at the very end, whatever blank lines stood before the marker.
string(REGEX REPLACE "\n+$" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${byte_order_mark}${text}\r\n")
