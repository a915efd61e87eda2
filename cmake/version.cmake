# Writes the header that holds the program's version, as git describes the source
# tree, at every build; the header is only rewritten when the version changed.
# Called with -DSOURCE_DIR=... -DOUTPUT=...
execute_process(COMMAND git describe --always --dirty --tags
                WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE result ERROR_QUIET)
if(NOT result EQUAL 0 OR version STREQUAL "")
  set(version "unknown")
endif()
set(text "// The program's version, written at build time from git.\n#pragma once\n\nconstexpr const char* tavrolin_version = \"${version}\";\n")
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
