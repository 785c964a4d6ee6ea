# version_record_definitions(<out-var> <file-version>)
#
# Sets <out-var> to the preprocessor definitions from which a program's resource script builds
# its version record: the product version (the project's, two numbers) and the program's own
# file version (four numbers). Only numbers are passed; the script writes the texts ("1.20",
# "1.20.0.34") from the same numbers, so a record's text and its numbers cannot disagree.
function(version_record_definitions out file_version)
  # Each number fills a 16-bit field of the record. No leading zeros: the resource compiler
  # would read 020 as an octal number.
  set(number "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
  if(NOT PROJECT_VERSION MATCHES "^${number}\\.${number}$")
    message(FATAL_ERROR "product version '${PROJECT_VERSION}' is not two numbers such as 1.20")
  endif()
  set(product ${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  if(NOT file_version MATCHES "^${number}\\.${number}\\.${number}\\.${number}$")
    message(FATAL_ERROR "file version '${file_version}' is not four numbers such as 1.20.0.34")
  endif()
  set(file ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  foreach(part IN LISTS product file)
    if(part GREATER 65535)
      message(FATAL_ERROR "version number ${part} does not fit a 16-bit field of the record")
    endif()
  endforeach()

  set(definitions "")
  foreach(name IN ITEMS PRODUCT_VERSION_MAJOR PRODUCT_VERSION_MINOR)
    list(POP_FRONT product value)
    list(APPEND definitions ${name}=${value})
  endforeach()
  foreach(name IN ITEMS FILE_VERSION_MAJOR FILE_VERSION_MINOR FILE_VERSION_PATCH FILE_VERSION_BUILD)
    list(POP_FRONT file value)
    list(APPEND definitions ${name}=${value})
  endforeach()
  set(${out} ${definitions} PARENT_SCOPE)
endfunction()
