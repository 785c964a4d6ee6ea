# source_date_epoch(<out> <source-dir> <what>)
#
# Sets <out> to the time every release package of <source-dir> gives its files, in seconds since
# 1970: SOURCE_DATE_EPOCH when it is set, else the time of the commit the sources are checked out
# at. It is taken when a package is made, not when the build was configured, so that a package
# made after a new commit carries that commit's time. Sources that are no Git checkout need
# SOURCE_DATE_EPOCH; without it this stops with an error that names <what> is being made.
function(source_date_epoch out source_dir what)
  if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  else()
    set(epoch "")
    find_program(GIT_COMMAND git)
    if(GIT_COMMAND)
      execute_process(
        COMMAND ${GIT_COMMAND} -C ${source_dir} log -1 --format=%ct
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE status ERROR_QUIET)
      if(NOT status EQUAL 0)
        set(epoch "")
      endif()
    endif()
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${source_dir} is no Git checkout with a commit, so ${what} has no time "
                        "to give its files: set SOURCE_DATE_EPOCH (seconds since 1970)")
  endif()
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()
