# Fails unless the plugin file exports exactly Plugin_Init and Plugin_Unload, undecorated (and, on
# Windows, unless it loads without any DLL of the compiler's runtime).
# Run with -DPLUGIN=<file> -DLISTER=<nm or objdump>.
if(PLUGIN MATCHES "\\.dll$")
  execute_process(COMMAND ${LISTER} -p ${PLUGIN} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  # The names follow the "[Ordinal/Name Pointer] Table" heading, one "[ n] name" line each.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]*\\[[ 0-9]+\\][^\n]*\n)*)"
         table "${listing}")
  # The "[ n]" prefixes go before the lines become a list: CMake does not split a list inside
  # square brackets.
  string(REGEX REPLACE "[ \t]*\\[[ 0-9]+\\][ \t]+" "" names "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[^\n]+" exports "${names}")
  # The compiler's runtime is linked in: the plugin must load with nothing of it beside it.
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${listing}")
  if(imports MATCHES "libstdc\\+\\+|libgcc|libwinpthread")
    message(FATAL_ERROR "${PLUGIN} needs a compiler runtime DLL: ${imports}")
  endif()
else()
  execute_process(COMMAND ${LISTER} -D --defined-only --format=posix ${PLUGIN}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  string(REGEX MATCHALL "(^|\n)[^ \n]+ [A-Za-z]" entries "${listing}")
  set(exports "")
  foreach(entry ${entries})
    string(REGEX REPLACE "^\n?([^ ]+) .*" "\\1" name "${entry}")
    list(APPEND exports "${name}")
  endforeach()
endif()
if(failed)
  message(FATAL_ERROR "cannot list the exports of ${PLUGIN}")
endif()
list(SORT exports)
if(NOT exports STREQUAL "Plugin_Init;Plugin_Unload")
  message(FATAL_ERROR "${PLUGIN} exports [${exports}], expected exactly Plugin_Init and Plugin_Unload")
endif()
message(STATUS "${PLUGIN} exports ${exports}")
