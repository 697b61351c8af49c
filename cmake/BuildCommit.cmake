# Writes the header that names the commit a build is made from (tools/check/BuildCommit.h in the
# build's generated folder), for vesperline-check --version. Run at every build, not only when
# CMake configures, so that a commit made since still shows; the header is rewritten only when
# the commit changed, so that nothing is compiled again otherwise.
#   cmake -DSOURCE_DIR=<source folder> -DOUTPUT=<header> [-DGIT=<git>] [-DGIVEN=<commit>]
#         -P BuildCommit.cmake
# GIVEN, when not empty, is taken as it is: for a build from a source archive, where there is no
# checkout to ask. Otherwise the commit is git's abbreviated hash, with "-dirty" when the tracked
# files differ from it; "unknown" without git or a checkout.
set(commit "${GIVEN}")
if(commit STREQUAL "" AND GIT)
  # --exclude=* keeps tags out, so that the answer is always the commit's own hash.
  execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" describe --always --dirty --abbrev=12
                          --exclude=*
                  RESULT_VARIABLE failed OUTPUT_VARIABLE commit ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    set(commit "")
  endif()
endif()
if(commit STREQUAL "")
  set(commit "unknown")
endif()
# Nothing of it may end the string literal.
string(REGEX REPLACE "[^A-Za-z0-9._+-]" "" commit "${commit}")
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT
"// Generated at every build by cmake/BuildCommit.cmake: the commit this build is made from.
#pragma once

namespace vesperline {

inline constexpr char kBuildCommit[] = \"${commit}\";

}  // namespace vesperline
")
