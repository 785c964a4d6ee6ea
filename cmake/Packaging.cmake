# What `cmake --install` puts where, and the release package that cpack makes of it.
#
# Native builds install the two programs as commands, in bin/, with a manual page each and the
# licence and the user guide in the documentation folder (share/doc/panefix); `cmake --install
# --strip` strips the programs. Windows builds install the release
# package's content, flat, as a user copies it into the host's folder: Panefix.exe, Panepeek.exe,
# the readme, the user guide, the licence and the changelog, texts made for Notepad (UTF-8 with a
# byte-order mark, CR LF line ends). Everything else built here (tests, the Wine test helpers) stays out: it has no
# install rule, and the package takes only what is installed as the component "release".
include(GNUInstallDirs)

if(NOT WIN32)
  install(TARGETS panefix panepeek RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT release)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/panefix.1 ${PROJECT_SOURCE_DIR}/docs/man/panepeek.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT release)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/panefix)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                ${PROJECT_SOURCE_DIR}/docs/user-guide.md
          DESTINATION ${doc_dir} COMPONENT release)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/screenshots DESTINATION ${doc_dir} COMPONENT release)
  return()
endif()

set(PACKAGE_TEXT_DIR ${PROJECT_BINARY_DIR}/package)
set(USER_GUIDE_TEXT ${PACKAGE_TEXT_DIR}/Panefix-UserGuide.txt)
set(LICENSE_TEXT ${PACKAGE_TEXT_DIR}/LICENSE.txt)
set(CHANGELOG_TEXT ${PACKAGE_TEXT_DIR}/Changelog.txt)
# The first thing a user opens, in Japanese and English, with the version of this file. Its name
# is ASCII: the zip support of Windows before 10 reads a name in the ANSI code page, whatever
# the zip's flag for UTF-8 names says.
set(README_TEXT ${PACKAGE_TEXT_DIR}/Readme.txt)
configure_file(${PROJECT_SOURCE_DIR}/docs/package-readme.txt.in ${PACKAGE_TEXT_DIR}/readme-source.txt
               @ONLY)
# The guide's source ends with its pictures, which the package does not hold; the text edition
# stops at this line of docs/user-guide.md.
set(USER_GUIDE_END_MARKER "<!-- end of the text edition -->")

add_custom_command(
  OUTPUT ${USER_GUIDE_TEXT}
  COMMAND ${CMAKE_COMMAND} -D SOURCE=${PROJECT_SOURCE_DIR}/docs/user-guide.md
          -D OUTPUT=${USER_GUIDE_TEXT} -D END_MARKER=${USER_GUIDE_END_MARKER}
          -P ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  COMMENT "Writing the user guide for Notepad"
  VERBATIM)
add_custom_command(
  OUTPUT ${LICENSE_TEXT}
  COMMAND ${CMAKE_COMMAND} -D SOURCE=${PROJECT_SOURCE_DIR}/LICENSE -D OUTPUT=${LICENSE_TEXT}
          -P ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  COMMENT "Writing the licence for Notepad"
  VERBATIM)
add_custom_command(
  OUTPUT ${CHANGELOG_TEXT}
  COMMAND ${CMAKE_COMMAND} -D SOURCE=${PROJECT_SOURCE_DIR}/CHANGELOG.md -D OUTPUT=${CHANGELOG_TEXT}
          -P ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  COMMENT "Writing the changelog for Notepad"
  VERBATIM)
add_custom_command(
  OUTPUT ${README_TEXT}
  COMMAND ${CMAKE_COMMAND} -D SOURCE=${PACKAGE_TEXT_DIR}/readme-source.txt -D OUTPUT=${README_TEXT}
          -P ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  DEPENDS ${PACKAGE_TEXT_DIR}/readme-source.txt ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
  COMMENT "Writing the readme for Notepad"
  VERBATIM)
add_custom_target(package_texts ALL
  DEPENDS ${USER_GUIDE_TEXT} ${LICENSE_TEXT} ${CHANGELOG_TEXT} ${README_TEXT})

install(TARGETS panefix panepeek RUNTIME DESTINATION . COMPONENT release)
install(FILES ${README_TEXT} ${USER_GUIDE_TEXT} ${LICENSE_TEXT} ${CHANGELOG_TEXT}
        DESTINATION . COMPONENT release)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Panefix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Thread-pane width repair tool and viewer for Ostrel")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
# Panefix-1.20-win32.zip holds the files themselves, not a folder: they are meant to be copied,
# as they are, next to Qtv.exe.
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};release;/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
