# Builds the release ZIP and fails unless it holds exactly the plugin file, the checker, the sample
# configuration and the installation notes in a folder Vesperline, and unless the sample
# configuration reads right once copied to config.json: the plugin takes the first quoted
# occurrence of each key anywhere in the file, so no other text may hold one before the member
# itself. The ZIP must hold no config.json: unpacked over an install, it would replace the admin's.
# The tests build against the simulated host, so the package must say it is one for tests, in its
# name and in the first line of its notes. The notes and the sample have Windows line ends, and
# the notes name the three values the plugin needs. Beside the ZIP lies its checksum file (see
# CheckChecksumFile.cmake), and both Windows files carry the version resource of this version.
# Run with -DBUILD_DIR=<build folder> -DCPACK=<cpack> -DVERSION=<version> -DOBJDUMP=<objdump for
# Windows files> in a scratch folder.
set(scratch "${CMAKE_CURRENT_BINARY_DIR}/package-check")
file(REMOVE_RECURSE "${scratch}")
execute_process(COMMAND ${CPACK} -G ZIP -B "${scratch}" --config "${BUILD_DIR}/CPackConfig.cmake"
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB zips "${scratch}/*.zip")
list(LENGTH zips count)
if(failed OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made no single ZIP:\n${output}")
endif()

get_filename_component(zip_name "${zips}" NAME)
if(NOT zip_name STREQUAL "Vesperline-${VERSION}-win64-test.zip")
  message(FATAL_ERROR "a package built against the simulated host is named ${zip_name}, not "
                      "Vesperline-${VERSION}-win64-test.zip")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/CheckChecksumFile.cmake")
vesperline_check_checksum_file("${zips}")

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

# UTF-16LE, in hex, of ASCII text.
function(utf16_hex text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()
# The version resource, as Explorer's Properties and PowerShell's VersionInfo read it: objdump
# lists a resource of type 16 (a version resource), whose strings name the product and give the
# version as file and product version, in UTF-16. (The numbers of its fixed part, which the
# checker reads, are pe_image_test's and linux_wine_checker_test's.)
foreach(file Vesperline.dll vesperline-check.exe)
  set(path "${scratch}/unpacked/Vesperline/${file}")
  execute_process(COMMAND ${OBJDUMP} -p "${path}" OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
  if(failed OR NOT headers MATCHES "Resource Directory section:.*Entry: ID: 0x000010, Value: 0x8")
    message(FATAL_ERROR "${file} in the package has no version resource")
  endif()
  file(READ "${path}" bytes HEX)
  utf16_hex("ProductName" product_key)
  utf16_hex("Vesperline" product)
  utf16_hex("FileVersion" file_key)
  utf16_hex("ProductVersion" product_version_key)
  utf16_hex("${VERSION}" version)
  if(NOT bytes MATCHES "${product_key}0000(0000)?${product}0000" OR
     NOT bytes MATCHES "${file_key}0000(0000)?${version}0000" OR
     NOT bytes MATCHES "${product_version_key}0000(0000)?${version}0000")
    message(FATAL_ERROR "the version resource of ${file} in the package does not name Vesperline "
                        "${VERSION}")
  endif()
endforeach()

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
# file(READ) gives the text without its carriage returns, so the line ends are looked at byte by
# byte: every line feed (0a) must follow a carriage return (0d).
foreach(name INSTALL.txt config.example.json)
  file(READ "${scratch}/unpacked/Vesperline/${name}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1 " bytes "${hex}")
  string(REGEX MATCH "(^|[0-9a-f][0-9a-ce-f] |[1-9a-f]d )0a " bare "${bytes}")
  if(bare OR NOT bytes MATCHES "0d 0a ")
    message(FATAL_ERROR "${name} in the package has line ends other than Windows' CR LF")
  endif()
endforeach()
file(READ "${scratch}/unpacked/Vesperline/INSTALL.txt" notes)
if(NOT notes MATCHES "^FOR TESTS ONLY: ")
  message(FATAL_ERROR "INSTALL.txt of a package for tests does not begin by saying so")
endif()
foreach(value token address port)
  if(NOT notes MATCHES "${value}")
    message(FATAL_ERROR "INSTALL.txt does not name the ${value} the plugin needs")
  endif()
endforeach()
message(STATUS "${zips} holds ${files}, both programs of version ${VERSION}")
