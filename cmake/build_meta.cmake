# Writes build_meta.h with the build identity: short git revision, dirty marker, UTC build time.
# Run at build time (cmake -P) so every build carries the tree it was built from.
find_package(Git QUIET)
set(rev "0000000")
set(dirty "unknown")
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=7 HEAD
    WORKING_DIRECTORY ${SRC_DIR} OUTPUT_VARIABLE out RESULT_VARIABLE rc
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(rc EQUAL 0 AND out)
    set(rev "${out}")
  endif()
  execute_process(COMMAND ${GIT_EXECUTABLE} status --porcelain --untracked-files=no
    WORKING_DIRECTORY ${SRC_DIR} OUTPUT_VARIABLE st RESULT_VARIABLE rc2 ERROR_QUIET)
  if(rc2 EQUAL 0)
    if(st)
      set(dirty "dirty")
    else()
      set(dirty "clean")
    endif()
  endif()
endif()
string(TIMESTAMP ts "%Y-%m-%dT%H:%M:%SZ" UTC)
set(content "// Generated at build time; do not edit.\n#pragma once\n#define BUILD_GIT_REVISION \"${rev}\"\n#define BUILD_GIT_DIRTY \"${dirty}\"\n#define BUILD_TIMESTAMP \"${ts}\"\n")
# Rewrite only when the identity (not the time) changed, so an unchanged tree does not rebuild.
set(stamp_content "${rev} ${dirty}")
if(EXISTS ${OUT_FILE}.stamp)
  file(READ ${OUT_FILE}.stamp old)
endif()
if(NOT EXISTS ${OUT_FILE} OR NOT "${old}" STREQUAL "${stamp_content}")
  file(WRITE ${OUT_FILE} "${content}")
  file(WRITE ${OUT_FILE}.stamp "${stamp_content}")
endif()
