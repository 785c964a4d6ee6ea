# Writes the licence as Debian's machine-readable copyright file (/usr/share/doc/<package>/
# copyright in the .deb), from the LICENSE file, so that the licence text is kept in one place.
#
#   cmake -D LICENSE=<LICENSE> -D OUTPUT=<copyright> -D UPSTREAM_NAME=<name> [-D SOURCE_URL=<url>]
#         -P DebianCopyright.cmake
#
# LICENSE is the MIT licence as GitHub and the OSI give it: the title "MIT License", a line
# "Copyright (c) <years> <holders>", then the licence's paragraphs. Debian calls that licence
# "Expat" (its name "MIT" stands for several). Its text goes in the License field: each line
# indented by one blank, an empty line written as " .".
foreach(name IN ITEMS LICENSE OUTPUT UPSTREAM_NAME)
  if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
    message(FATAL_ERROR "usage: cmake -D LICENSE=<in> -D OUTPUT=<out> -D UPSTREAM_NAME=<name> "
                        "[-D SOURCE_URL=<url>] -P DebianCopyright.cmake")
  endif()
endforeach()

file(READ ${LICENSE} text)
string(REPLACE "\r\n" "\n" text "${text}")
if(NOT text MATCHES "^MIT License\n")
  message(FATAL_ERROR "${LICENSE} does not start with the line \"MIT License\"")
endif()
if(NOT text MATCHES "\nCopyright \\(c\\) ([^\n]+)\n+(.*[^\n])\n*$")
  message(FATAL_ERROR "${LICENSE} has no line \"Copyright (c) <years> <holders>\" before its text")
endif()
set(holders "${CMAKE_MATCH_1}")
set(terms "${CMAKE_MATCH_2}")
# A blank before every line, and the empty lines between paragraphs as " .".
string(REGEX REPLACE "\n\n+" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")

set(header "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
           "Upstream-Name: ${UPSTREAM_NAME}\n")
if(DEFINED SOURCE_URL AND NOT SOURCE_URL STREQUAL "")
  list(APPEND header "Source: ${SOURCE_URL}\n")
endif()
string(CONCAT copyright ${header} "\n"
              "Files: *\n"
              "Copyright: ${holders}\n"
              "License: Expat\n"
              " ${terms}\n")
file(WRITE ${OUTPUT} "${copyright}")
