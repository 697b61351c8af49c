# Builds the release ZIP and fails unless it holds exactly the plugin file, the checker, the sample
# configuration and the installation notes in a folder Vesperline, and unless the sample
# configuration reads right once copied to config.json: the plugin takes the first quoted
# occurrence of each key anywhere in the file, so no other text may hold one before the member
# itself. The ZIP must hold no config.json: unpacked over an install, it would replace the admin's.
# Run with -DBUILD_DIR=<build folder> -DCPACK=<cpack> in a scratch folder.
set(scratch "${CMAKE_CURRENT_BINARY_DIR}/package-check")
file(REMOVE_RECURSE "${scratch}")
execute_process(COMMAND ${CPACK} -G ZIP -B "${scratch}" --config "${BUILD_DIR}/CPackConfig.cmake"
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB zips "${scratch}/*.zip")
list(LENGTH zips count)
if(failed OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made no single ZIP:\n${output}")
endif()

file(MAKE_DIRECTORY "${scratch}/unpacked")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${zips}" WORKING_DIRECTORY "${scratch}/unpacked"
                RESULT_VARIABLE failed)
file(GLOB_RECURSE files RELATIVE "${scratch}/unpacked" "${scratch}/unpacked/*")
list(SORT files)
list(FIND files "Vesperline/config.json" config_at)
if(NOT config_at EQUAL -1)
  message(FATAL_ERROR "${zips} holds a config.json: unpacking an update would overwrite the admin's")
endif()
if(failed OR NOT files STREQUAL
   "Vesperline/INSTALL.txt;Vesperline/Vesperline.dll;Vesperline/config.example.json;Vesperline/vesperline-check.exe")
  message(FATAL_ERROR "${zips} holds [${files}]")
endif()

file(READ "${scratch}/unpacked/Vesperline/config.example.json" config)
string(JSON type ERROR_VARIABLE problem TYPE "${config}")
if(problem OR NOT type STREQUAL "OBJECT")
  message(FATAL_ERROR "the sample config.example.json is no JSON object: ${problem}")
endif()
# What the plugin reads for each key: from the first quoted occurrence of the key, past the next
# ':', the next quoted text (token, ip) or the digits (port). It must be the member's own value.
foreach(key token ip port)
  string(JSON expected ERROR_VARIABLE problem GET "${config}" ${key})
  if(problem)
    message(FATAL_ERROR "the sample config.example.json lacks \"${key}\"")
  endif()
  string(FIND "${config}" "\"${key}\"" at)
  string(SUBSTRING "${config}" ${at} -1 rest)
  if(key STREQUAL "port")
    string(REGEX MATCH "^[^:]*:[ \t\r\n]*([0-9]*)" read "${rest}")
  else()
    string(REGEX MATCH "^[^:]*:[^\"]*\"([^\"]*)\"" read "${rest}")
  endif()
  if(NOT read OR NOT "${CMAKE_MATCH_1}" STREQUAL "${expected}")
    message(FATAL_ERROR "the plugin would read \"${key}\" from the sample, copied, as "
                        "[${CMAKE_MATCH_1}], not as its member's value [${expected}]")
  endif()
endforeach()
message(STATUS "${zips} holds ${files}")
