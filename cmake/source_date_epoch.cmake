# The time written into the executable's header instead of the link time, so that two builds
# of the same source give the same bytes: SOURCE_DATE_EPOCH when it is set, else the time of
# the last commit of the source tree, else zero.
#
# As a module: kalvor_source_date_epoch(<var> <source dir>). As a script, for scripts/release:
#   cmake -DSOURCE_DIR=<source dir> -P cmake/source_date_epoch.cmake   (prints the value)

function(kalvor_source_date_epoch out_var source_dir)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
    if(NOT epoch MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${epoch}', not a count of seconds")
    endif()
    set(${out_var} ${epoch} PARENT_SCOPE)
    return()
  endif()

  set(epoch 0)
  find_program(KALVOR_GIT git)
  if(KALVOR_GIT)
    # Only the source tree's own repository counts, not one that happens to hold a copy of it.
    execute_process(COMMAND ${KALVOR_GIT} -C ${source_dir} rev-parse --show-toplevel
                    OUTPUT_VARIABLE top RESULT_VARIABLE failed
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    file(REAL_PATH "${source_dir}" source_real)
    if(NOT failed AND top)
      file(REAL_PATH "${top}" top)
    endif()
    if(NOT failed AND top STREQUAL source_real)
      execute_process(COMMAND ${KALVOR_GIT} -C ${source_dir} log -1 --format=%ct
                      OUTPUT_VARIABLE commit_time RESULT_VARIABLE failed
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(NOT failed AND commit_time MATCHES "^[0-9]+$")
        set(epoch ${commit_time})
      endif()
      # A new commit or checkout moves HEAD's log, and the value is taken again.
      if(NOT CMAKE_SCRIPT_MODE_FILE)
        execute_process(COMMAND ${KALVOR_GIT} -C ${source_dir} rev-parse --path-format=absolute
                                --git-path logs/HEAD
                        OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(head_log AND EXISTS "${head_log}")
          set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
        endif()
      endif()
    endif()
  endif()
  set(${out_var} ${epoch} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT SOURCE_DIR)
    message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<source dir> -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  kalvor_source_date_epoch(epoch "${SOURCE_DIR}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${epoch}")
endif()
