# Makes the Linux release packages of the files cpack has staged (the External generator runs
# this script in cpack; cmake/LinuxPackages.cmake says what they hold): the tarball of the folder
# panefix-1.20-linux-x86_64/ and the .deb of the tree debian/panefix/. Both are the same bytes
# from the same commit whoever builds them, wherever, whenever: every file has the mode 0644, a
# program and a folder 0755, the owner root, and the time of the commit (SOURCE_DATE_EPOCH, or
# the commit's: cmake/SourceDateEpoch.cmake); the tarball lists them in byte order of their names,
# and dpkg-deb does the same of its own.
#
# The .deb is built as Debian builds its packages, from a folder like a source package's debian/:
# dpkg-shlibdeps computes the dependencies from the libraries the programs load, dpkg-gencontrol
# writes the control file with them, and dpkg-deb builds the archive.
foreach(name IN ITEMS CPACK_TEMPORARY_DIRECTORY CPACK_PACKAGE_NAME CPACK_PACKAGE_FILE_NAME
                      CPACK_PANEFIX_SOURCE_DIR CPACK_PANEFIX_DEBIAN_VERSION
                      CPACK_PANEFIX_DEBIAN_ARCHITECTURE CPACK_PANEFIX_DEBIAN_CONTROL
                      CPACK_PANEFIX_MAINTAINER CPACK_PANEFIX_STRIP)
  if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
    message(FATAL_ERROR "LinuxRelease.cmake: ${name} is not set (run through cpack)")
  endif()
endforeach()

include(${CPACK_PANEFIX_SOURCE_DIR}/cmake/SourceDateEpoch.cmake)
source_date_epoch(epoch ${CPACK_PANEFIX_SOURCE_DIR} "the Linux release")

set(stage ${CPACK_TEMPORARY_DIRECTORY})
set(package ${CPACK_PACKAGE_NAME})
set(tarball_folder ${CPACK_PACKAGE_FILE_NAME})
set(deb_tree ${stage}/debian/${package})
get_filename_component(output_dir ${stage}/.. ABSOLUTE)
set(tarball ${output_dir}/${tarball_folder}.tar.gz)
set(deb ${output_dir}/${package}_${CPACK_PANEFIX_DEBIAN_VERSION}_${CPACK_PANEFIX_DEBIAN_ARCHITECTURE}.deb)

# Runs one step of the build of the packages, in the staging folder, with the commit's time as
# SOURCE_DATE_EPOCH and the C locale; stops cpack when the step fails. The arguments are the
# command; OUTPUT_FILE <file> as the last two sends its standard output there.
function(run_step)
  set(command ${ARGN})
  set(redirect "")
  list(LENGTH command count)
  if(count GREATER 2)
    math(EXPR before_last "${count} - 2")
    list(GET command ${before_last} keyword)
    if(keyword STREQUAL "OUTPUT_FILE")
      list(GET command -1 output_file)
      list(SUBLIST command 0 ${before_last} command)
      set(redirect OUTPUT_FILE ${output_file})
    endif()
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch} LC_ALL=C TZ=UTC ${command}
    WORKING_DIRECTORY ${stage} ${redirect} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN command " " shown)
    message(FATAL_ERROR "LinuxRelease.cmake: '${shown}' failed (${status})")
  endif()
endfunction()

# The Debian changelog: the one entry of this packaging of the release, signed by the maintainer
# at the commit's time. dpkg-gencontrol takes the version from it; the .deb holds it gzipped.
run_step(date -u -R -d @${epoch} OUTPUT_FILE ${stage}/debian/date)
file(STRINGS ${stage}/debian/date signed_at)
file(REMOVE ${stage}/debian/date)
file(WRITE ${stage}/debian/changelog
     "${package} (${CPACK_PANEFIX_DEBIAN_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${CPACK_PACKAGE_VERSION}; changelog.gz lists its changes.\n\n"
     " -- ${CPACK_PANEFIX_MAINTAINER}  ${signed_at}\n")
configure_file(${CPACK_PANEFIX_DEBIAN_CONTROL} ${stage}/debian/control COPYONLY)
set(doc_dir ${deb_tree}/usr/share/doc/${package})
configure_file(${stage}/debian/changelog ${doc_dir}/changelog.Debian COPYONLY)
run_step(gzip -n -9 -f ${doc_dir}/changelog.Debian)

# The programs lose their symbols and debug information, and, as Debian strips its own, the
# compiler's notes of its version, which nothing reads.
file(GLOB programs ${stage}/${tarball_folder}/bin/* ${deb_tree}/usr/bin/*)
run_step(${CPACK_PANEFIX_STRIP} --remove-section=.comment --remove-section=.note ${programs})

# Modes as the installation left them would follow the builder's umask: folders 0755, programs
# 0755, every other file 0644.
run_step(chmod -R u=rwX,go=rX ${tarball_folder} debian/${package})

file(REMOVE ${tarball})
run_step(tar --create --sort=name --format=gnu --owner=0 --group=0 --numeric-owner
         --mtime=@${epoch} ${tarball_folder} OUTPUT_FILE ${stage}/debian/tarball.tar)
run_step(gzip -n -9 -f ${stage}/debian/tarball.tar)
file(RENAME ${stage}/debian/tarball.tar.gz ${tarball})

set(shlibdeps_arguments "")
file(GLOB programs ${deb_tree}/usr/bin/*)
list(SORT programs)
foreach(program IN LISTS programs)
  file(RELATIVE_PATH program ${stage} ${program})
  list(APPEND shlibdeps_arguments -e${program})
endforeach()
# dpkg-shlibdeps finds a package's tree by its DEBIAN folder.
file(MAKE_DIRECTORY ${deb_tree}/DEBIAN)
run_step(dpkg-shlibdeps -Tdebian/${package}.substvars ${shlibdeps_arguments})
run_step(dpkg-gencontrol -p${package} -Pdebian/${package} -Tdebian/${package}.substvars
         -fdebian/files)
# The checksum of every file, which `dpkg --verify` and debsums check an installation against.
file(GLOB_RECURSE files RELATIVE ${deb_tree} ${deb_tree}/usr/*)
list(SORT files)
set(md5sums "")
foreach(file IN LISTS files)
  file(MD5 ${deb_tree}/${file} sum)
  string(APPEND md5sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${deb_tree}/DEBIAN/md5sums "${md5sums}")
run_step(chmod -R u=rwX,go=rX debian/${package}/DEBIAN)
# dpkg-deb gives every file the commit's time when it is later (SOURCE_DATE_EPOCH), but leaves an
# earlier one as it is: every file gets the commit's time first.
run_step(find debian/${package} -exec touch -h -d @${epoch} {} +)
file(REMOVE ${deb})
run_step(dpkg-deb --root-owner-group -Zxz --build debian/${package} ${deb})

set(CPACK_EXTERNAL_BUILT_PACKAGES ${deb} ${tarball})
