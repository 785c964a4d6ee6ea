# Makes the release zip of the files cpack has installed into its staging folder (the External
# generator runs this script in cpack): Panefix-1.20-win32.zip, every file in one folder
# Panefix-1.20/, and the same bytes from the same commit whoever builds it, wherever, whenever.
# cmake/release_zip.py writes the zip; this script gives it the time its entries carry.
#
# That time is SOURCE_DATE_EPOCH when it is set, else the time of the commit the sources are
# checked out at (cmake/SourceDateEpoch.cmake).
foreach(name IN ITEMS CPACK_TEMPORARY_DIRECTORY CPACK_PACKAGE_FILE_NAME CPACK_PANEFIX_TOP_FOLDER
                      CPACK_PANEFIX_SOURCE_DIR CPACK_PANEFIX_PYTHON)
  if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
    message(FATAL_ERROR "ReleaseZip.cmake: ${name} is not set (run through cpack)")
  endif()
endforeach()

include(${CPACK_PANEFIX_SOURCE_DIR}/cmake/SourceDateEpoch.cmake)
source_date_epoch(epoch ${CPACK_PANEFIX_SOURCE_DIR} "the zip")

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
