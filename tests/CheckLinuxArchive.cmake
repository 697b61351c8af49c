# Builds the Linux checker's archive and fails unless it is Vesperline-<version>-linux-x64-checker
# .tar.gz, with its checksum file beside it (see CheckChecksumFile.cmake), holding exactly the
# checker and its notes in a folder Vesperline-checker; unless the
# checker, unpacked, runs with nothing beside it and no environment at all; unless the dynamic
# loader gives it nothing but the C library's own parts; and unless the newest C library version
# it asks for is no newer than Ubuntu 22.04's (2.35) and is the one docs/linux.md and the notes
# name.
# Run with -DBUILD_DIR=<build folder> -DCPACK=<cpack> -DVERSION=<version> -DOBJDUMP=<objdump>
# -DSOURCE_DIR=<source folder>.
set(scratch "${BUILD_DIR}/archive-check")
file(REMOVE_RECURSE "${scratch}")
execute_process(COMMAND ${CPACK} -G TGZ -B "${scratch}" --config "${BUILD_DIR}/CPackConfig.cmake"
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB archives "${scratch}/*.tar.gz")
list(LENGTH archives count)
if(failed OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made no single archive:\n${output}")
endif()
get_filename_component(name "${archives}" NAME)
if(NOT name STREQUAL "Vesperline-${VERSION}-linux-x64-checker.tar.gz")
  message(FATAL_ERROR "the Linux checker's archive is named ${name}")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/CheckChecksumFile.cmake")
vesperline_check_checksum_file("${archives}")

file(MAKE_DIRECTORY "${scratch}/unpacked")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf "${archives}"
                WORKING_DIRECTORY "${scratch}/unpacked" RESULT_VARIABLE failed)
file(GLOB_RECURSE files RELATIVE "${scratch}/unpacked" "${scratch}/unpacked/*")
list(SORT files)
if(failed OR NOT files STREQUAL "Vesperline-checker/README.txt;Vesperline-checker/vesperline-check")
  message(FATAL_ERROR "${name} holds [${files}]")
endif()
set(checker "${scratch}/unpacked/Vesperline-checker/vesperline-check")

# Run from an empty folder without a single environment variable, as a bare host would: it reports
# the plugin folder it is given (which holds nothing, not even the plugin file, so the plugin would
# not run).
file(MAKE_DIRECTORY "${scratch}/empty")
execute_process(COMMAND env -i "${checker}" --plugin-dir "${scratch}/empty" --json
                WORKING_DIRECTORY "${scratch}/empty" RESULT_VARIABLE status
                OUTPUT_VARIABLE report ERROR_VARIABLE errors)
string(JSON verdict ERROR_VARIABLE problem GET "${report}" verdict)
if(NOT status EQUAL 1 OR problem OR NOT verdict STREQUAL "not loaded")
  message(FATAL_ERROR "the unpacked checker gave status ${status}:\n${report}\n${errors}")
endif()

# What the dynamic loader gives it: the kernel's vDSO, the loader itself and the C library's parts.
execute_process(COMMAND ldd "${checker}" RESULT_VARIABLE failed OUTPUT_VARIABLE libraries)
string(REGEX REPLACE "\n$" "" libraries "${libraries}")
string(REPLACE "\n" ";" libraries "${libraries}")
foreach(line IN LISTS libraries)
  string(STRIP "${line}" line)
  if(NOT line MATCHES "^(linux-vdso\\.so\\.1|/lib64/ld-linux-x86-64\\.so\\.2|(libc|libm|libdl|libpthread|librt)\\.so\\.[0-9]+ => )")
    message(FATAL_ERROR "the checker needs more than the C library: ${line}")
  endif()
endforeach()

# The newest version of the C library it asks for, as objdump -T shows them.
execute_process(COMMAND ${OBJDUMP} -T "${checker}" OUTPUT_VARIABLE symbols)
string(REGEX MATCHALL "GLIBC_[0-9]+\\.[0-9]+" versions "${symbols}")
set(newest 0)
foreach(version IN LISTS versions)
  string(REPLACE "GLIBC_" "" version "${version}")
  if(version VERSION_GREATER newest)
    set(newest "${version}")
  endif()
endforeach()
if(newest VERSION_GREATER 2.35)
  message(FATAL_ERROR "the checker asks for the C library ${newest}, newer than Ubuntu 22.04's")
endif()
file(READ "${SOURCE_DIR}/docs/linux.md" readme)
file(READ "${scratch}/unpacked/Vesperline-checker/README.txt" notes)
string(REGEX MATCH "`GLIBC_([0-9.]+)` as the newest" named "${readme}")
set(readme_version "${CMAKE_MATCH_1}")
string(REGEX MATCH "glibc ([0-9.]+) or later" named "${notes}")
if(NOT readme_version STREQUAL newest OR NOT CMAKE_MATCH_1 STREQUAL newest)
  message(FATAL_ERROR "the checker asks for the C library ${newest}; docs/linux.md names "
                      "[${readme_version}], the notes [${CMAKE_MATCH_1}]")
endif()
message(STATUS "${name} holds ${files}; the checker needs ${libraries}, glibc ${newest}")
