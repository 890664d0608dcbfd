# The library must define exactly the factory and the disposer in its dynamic
# symbol table. Run with -DNM=<nm> -DLIB=<path of libPLIX.so>.
execute_process(COMMAND ${NM} -D --defined-only ${LIB}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()

set(names "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the name is the last field.
  if(line MATCHES "([^ \t]+)[ \t]*$")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT names)

if(NOT names STREQUAL "PLIX_Constructor;PLIX_Destructor")
  message(FATAL_ERROR "exports of ${LIB}:\n${listing}expected exactly PLIX_Constructor and PLIX_Destructor")
endif()
message(STATUS "exports: ${names}")
