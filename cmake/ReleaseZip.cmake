# Makes the release zip of the files cpack has installed into its staging folder (the External
# generator runs this script in cpack): Panefix-1.20-win32.zip, every file in one folder
# Panefix-1.20/, and the same bytes from the same commit whoever builds it, wherever, whenever.
# cmake/release_zip.py writes the zip; this script gives it the time its entries carry.
#
# That time is SOURCE_DATE_EPOCH when it is set, else the time of the commit the sources are
# checked out at (taken when the package is made, not when the build was configured). Sources
# that are no Git checkout need SOURCE_DATE_EPOCH.
foreach(name IN ITEMS CPACK_TEMPORARY_DIRECTORY CPACK_PACKAGE_FILE_NAME CPACK_PANEFIX_TOP_FOLDER
                      CPACK_PANEFIX_SOURCE_DIR CPACK_PANEFIX_PYTHON)
  if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
    message(FATAL_ERROR "ReleaseZip.cmake: ${name} is not set (run through cpack)")
  endif()
endforeach()

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  find_program(GIT_COMMAND git)
  if(GIT_COMMAND)
    execute_process(
      COMMAND ${GIT_COMMAND} -C ${CPACK_PANEFIX_SOURCE_DIR} log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0)
      set(epoch "")
    endif()
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "${CPACK_PANEFIX_SOURCE_DIR} is no Git checkout with a commit, so the zip "
                      "has no time to give its entries: set SOURCE_DATE_EPOCH (seconds since 1970)")
endif()

set(zip ${CPACK_TEMPORARY_DIRECTORY}/../${CPACK_PACKAGE_FILE_NAME}.zip)
file(REMOVE ${zip})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch}
          ${CPACK_PANEFIX_PYTHON} ${CPACK_PANEFIX_SOURCE_DIR}/cmake/release_zip.py
          ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_PANEFIX_TOP_FOLDER} ${zip}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "release_zip.py failed (${status})")
endif()
get_filename_component(zip ${zip} ABSOLUTE)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
