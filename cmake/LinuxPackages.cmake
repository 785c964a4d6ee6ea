# The Linux release packages, which cpack makes of a native build with PANEFIX_LINUX_RELEASE
# (cmake --workflow --preset release-linux):
#
# - panefix-1.20-linux-x86_64.tar.gz, one folder panefix-1.20-linux-x86_64/ with bin/panefix and
#   bin/panepeek (the static programs: they run on any x86-64 Linux without further libraries),
#   their manual pages in share/man/man1/, LICENSE, and README, which says how to install them
#   under ~/.local or /usr/local and how to remove them;
# - panefix_1.20-1_amd64.deb, for apt: /usr/bin/panefix and /usr/bin/panepeek linked to the
#   system's shared libraries, the manual pages, and in /usr/share/doc/panefix/ the licence as
#   Debian's machine-readable copyright file, the changelog and the package's Debian changelog;
# - beside each, its .sha256.
#
# Each package's files are an install component of their own, "tarball" and "deb", which cpack
# stages into a folder of its own; cmake/LinuxRelease.cmake makes the two archives of them.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  message(FATAL_ERROR "PANEFIX_LINUX_RELEASE makes Linux packages: build it on Linux")
endif()

string(TOLOWER ${PROJECT_NAME} linux_package_name)
# The Debian revision: the count of packagings of one release. A new .deb of the same sources
# (a change to its control data alone, say) counts it up.
set(PANEFIX_DEBIAN_REVISION 1)
set(linux_files_dir ${PROJECT_BINARY_DIR}/linux)
set(tarball_folder ${linux_package_name}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})

find_program(GZIP_COMMAND gzip REQUIRED)
find_program(DPKG_COMMAND dpkg REQUIRED)
execute_process(COMMAND ${DPKG_COMMAND} --print-architecture
                OUTPUT_VARIABLE debian_architecture OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)

# Manual pages and changelog are gzipped as Debian wants them: at the highest level, and without
# the file's name and time in the header, so that every build gives the same bytes.
set(man_pages_gz "")
foreach(page IN LISTS man_pages)
  get_filename_component(page_name ${page} NAME)
  set(page_gz ${linux_files_dir}/${page_name}.gz)
  add_custom_command(
    OUTPUT ${page_gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${linux_files_dir}/${page_name}
    COMMAND ${GZIP_COMMAND} -n -9 -f ${linux_files_dir}/${page_name}
    DEPENDS ${page}
    COMMENT "Compressing the manual page ${page_name}"
    VERBATIM)
  list(APPEND man_pages_gz ${page_gz})
endforeach()
set(changelog_gz ${linux_files_dir}/changelog.gz)
add_custom_command(
  OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${linux_files_dir}/changelog
  COMMAND ${GZIP_COMMAND} -n -9 -f ${linux_files_dir}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  COMMENT "Compressing the changelog"
  VERBATIM)
set(copyright_file ${linux_files_dir}/copyright)
set(debian_copyright ${PROJECT_SOURCE_DIR}/cmake/DebianCopyright.cmake)
add_custom_command(
  OUTPUT ${copyright_file}
  COMMAND ${CMAKE_COMMAND} -D LICENSE=${PROJECT_SOURCE_DIR}/LICENSE -D OUTPUT=${copyright_file}
          -D UPSTREAM_NAME=${PROJECT_NAME} -D SOURCE_URL=${PROJECT_HOMEPAGE_URL}
          -P ${debian_copyright}
  DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${debian_copyright}
  COMMENT "Writing the Debian copyright file"
  VERBATIM)
set(tarball_readme ${linux_files_dir}/README)
configure_file(${PROJECT_SOURCE_DIR}/docs/tarball-readme.txt.in ${tarball_readme} @ONLY)
add_custom_target(linux_package_files ALL DEPENDS ${man_pages_gz} ${changelog_gz} ${copyright_file})

install(TARGETS panefix panepeek RUNTIME DESTINATION bin COMPONENT tarball)
install(FILES ${man_pages_gz} DESTINATION share/man/man1 COMPONENT tarball)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${tarball_readme} DESTINATION . COMPONENT tarball)

install(TARGETS panefix_shared panepeek_shared RUNTIME DESTINATION bin COMPONENT deb)
install(FILES ${man_pages_gz} DESTINATION share/man/man1 COMPONENT deb)
install(FILES ${copyright_file} ${changelog_gz} DESTINATION share/doc/${linux_package_name}
        COMPONENT deb)
# What lintian is told to let pass, each with the reason in a comment.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/lintian-overrides DESTINATION share/lintian/overrides
        RENAME ${linux_package_name} COMPONENT deb)

# The control data of the .deb, in the form dpkg-gencontrol reads: a source paragraph and the
# package's. dpkg-shlibdeps fills ${shlibs:Depends} from the libraries the programs load.
if(PROJECT_HOMEPAGE_URL STREQUAL "")
  set(DEBIAN_HOMEPAGE_FIELD "")
else()
  set(DEBIAN_HOMEPAGE_FIELD "Homepage: ${PROJECT_HOMEPAGE_URL}\n")
endif()
set(DEBIAN_PACKAGE_NAME ${linux_package_name})
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian-control.in ${linux_files_dir}/control @ONLY)

# cpack stages the tarball's folder and the .deb's tree (under debian/panefix/, where the Debian
# tools look for a package's files) side by side; cmake/LinuxRelease.cmake strips the programs.
set(CPACK_PACKAGE_NAME ${linux_package_name})
set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGE_FILE_NAME ${tarball_folder})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};tarball;/${tarball_folder}"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};deb;/debian/${linux_package_name}/usr")
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/LinuxRelease.cmake)
set(CPACK_PANEFIX_DEBIAN_VERSION ${PROJECT_VERSION}-${PANEFIX_DEBIAN_REVISION})
set(CPACK_PANEFIX_DEBIAN_ARCHITECTURE ${debian_architecture})
set(CPACK_PANEFIX_DEBIAN_CONTROL ${linux_files_dir}/control)
set(CPACK_PANEFIX_MAINTAINER ${PANEFIX_PACKAGE_MAINTAINER})
set(CPACK_PANEFIX_STRIP ${CMAKE_STRIP})
include(CPack)
