# What `cmake --install` puts where, and the release package that cpack makes of it.
#
# Native builds install the two programs as commands, in bin/, with a manual page each and the
# licence, the changelog and the user guide in the documentation folder (share/doc/panefix);
# `cmake --install --strip` strips the programs. Windows builds install the release package's
# content, flat, as a user copies it into the host's folder: Panefix.exe, Panepeek.exe, the
# readme, the user guide, the licence and the changelog, plain texts made for Notepad (UTF-8 with
# a byte-order mark, CR LF line ends, no Markdown). Everything else built here (tests, the Wine
# test helpers) stays out: it has no install rule, and the package takes only what is installed
# as the component "release". The Linux release packages (PANEFIX_LINUX_RELEASE) are made of
# components of their own: cmake/LinuxPackages.cmake.
include(GNUInstallDirs)

# The readme and the manual pages name where to report a problem (cmake/ReportAddress.cmake).
set(man_pages "")
foreach(page IN ITEMS panefix panepeek)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${page}.1)
endforeach()

# What every release package shares. Each is made by a script of this project from cpack's
# staging folder (the External generator), which fixes what an archive records besides the
# content; beside each, its SHA-256 checksum in a line that `sha256sum -c` checks.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Panefix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Thread-pane width repair tool and viewer for Ostrel")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PANEFIX_SOURCE_DIR ${PROJECT_SOURCE_DIR})

if(NOT WIN32)
  install(TARGETS panefix panepeek RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT release)
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT release)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/panefix)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                ${PROJECT_SOURCE_DIR}/docs/user-guide.md
          DESTINATION ${doc_dir} COMPONENT release)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/screenshots DESTINATION ${doc_dir} COMPONENT release)
  if(PANEFIX_LINUX_RELEASE)
    include(${PROJECT_SOURCE_DIR}/cmake/LinuxPackages.cmake)
  endif()
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
set(notepad_text ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake)
# The changelog of the package: the Japanese one, then the English one, each with the released
# versions only.
set(changelog_sources ${PROJECT_SOURCE_DIR}/docs/changelog-ja.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md)

add_custom_command(
  OUTPUT ${USER_GUIDE_TEXT}
  COMMAND ${CMAKE_COMMAND} -D SOURCE=${PROJECT_SOURCE_DIR}/docs/user-guide.md
          -D OUTPUT=${USER_GUIDE_TEXT} -D END_MARKER=${USER_GUIDE_END_MARKER} -D MARKDOWN=ON
          -P ${notepad_text}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${notepad_text}
  COMMENT "Writing the user guide for Notepad"
  VERBATIM)
add_custom_command(
  OUTPUT ${LICENSE_TEXT}
  COMMAND ${CMAKE_COMMAND} -D SOURCE=${PROJECT_SOURCE_DIR}/LICENSE -D OUTPUT=${LICENSE_TEXT}
          -P ${notepad_text}
  DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${notepad_text}
  COMMENT "Writing the licence for Notepad"
  VERBATIM)
add_custom_command(
  OUTPUT ${CHANGELOG_TEXT}
  COMMAND ${CMAKE_COMMAND} "-DSOURCE=$<JOIN:${changelog_sources},$<SEMICOLON>>"
          -D OUTPUT=${CHANGELOG_TEXT} -D MARKDOWN=ON -D RELEASED_ONLY=ON -P ${notepad_text}
  DEPENDS ${changelog_sources} ${notepad_text}
  COMMENT "Writing the changelog for Notepad"
  VERBATIM)
add_custom_command(
  OUTPUT ${README_TEXT}
  COMMAND ${CMAKE_COMMAND} -D SOURCE=${PACKAGE_TEXT_DIR}/readme-source.txt -D OUTPUT=${README_TEXT}
          -P ${notepad_text}
  DEPENDS ${PACKAGE_TEXT_DIR}/readme-source.txt ${notepad_text}
  COMMENT "Writing the readme for Notepad"
  VERBATIM)
add_custom_target(package_texts ALL
  DEPENDS ${USER_GUIDE_TEXT} ${LICENSE_TEXT} ${CHANGELOG_TEXT} ${README_TEXT})

install(TARGETS panefix panepeek RUNTIME DESTINATION . COMPONENT release)
install(FILES ${README_TEXT} ${USER_GUIDE_TEXT} ${LICENSE_TEXT} ${CHANGELOG_TEXT}
        DESTINATION . COMPONENT release)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};release;/")
# Panefix-1.20-win32.zip holds one folder, Panefix-1.20, with the files in it, so that any way
# of extracting it gives that one folder. CPack's own ZIP generator records each file's time,
# owner and mode as the build left them; the External generator lets cmake/ReleaseZip.cmake
# write the zip from cpack's staging folder instead, with the commit's time and fixed modes.
# Beside it, Panefix-1.20-win32.zip.sha256, a line that `sha256sum -c` checks.
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/ReleaseZip.cmake)
set(CPACK_PANEFIX_TOP_FOLDER ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION})
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  set(CPACK_PANEFIX_PYTHON ${Python3_EXECUTABLE})
else()
  set(CPACK_PANEFIX_PYTHON python3)
endif()
include(CPack)
