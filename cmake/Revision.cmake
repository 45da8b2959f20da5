# Writes the build's git revision into a header, run on every build. The file is rewritten
# only when the revision changed, so an unchanged tree recompiles nothing.
# Inputs: SOURCE_DIR, OUTPUT.
set(revision "unknown")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=10 HEAD
    OUTPUT_VARIABLE head RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT failed AND head)
    set(revision "${head}")
    # Uncommitted changes to tracked files make a build that no commit describes.
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
      OUTPUT_VARIABLE changes ERROR_QUIET)
    if(changes)
      string(APPEND revision "-modified")
    endif()
  endif()
endif()
set(text "// Written by cmake/Revision.cmake at build time.\n#define ZELMO_REVISION \"${revision}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
