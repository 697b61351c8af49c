# vesperline_check_checksum_file(ARCHIVE): fails unless ARCHIVE.sha256 lies beside the archive as
# one line, its SHA-256 in lowercase hex, two blanks and the archive's name (the form sha256sum -c
# reads, whose first word PowerShell's Get-FileHash is compared with), and unless sha256sum -c,
# run where the archive lies as the admin runs it, takes it.
function(vesperline_check_checksum_file archive)
  get_filename_component(name "${archive}" NAME)
  get_filename_component(folder "${archive}" DIRECTORY)
  if(NOT EXISTS "${archive}.sha256")
    message(FATAL_ERROR "no ${name}.sha256 beside ${name}")
  endif()
  file(READ "${archive}.sha256" line)
  file(SHA256 "${archive}" hash)
  if(NOT line STREQUAL "${hash}  ${name}\n")
    message(FATAL_ERROR "${name}.sha256 holds [${line}], not [${hash}  ${name}]")
  endif()
  find_program(sha256sum sha256sum REQUIRED)
  execute_process(COMMAND ${sha256sum} --check --strict "${name}.sha256"
                  WORKING_DIRECTORY "${folder}" RESULT_VARIABLE failed OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(failed)
    message(FATAL_ERROR "sha256sum -c ${name}.sha256 fails:\n${output}")
  endif()
endfunction()
