# Compiles a file that includes HEADER with the include directories INCLUDES
# ('|'-separated) and checks the outcome: EXPECT "compiles", or "refused" with
# the compiler naming HEADER as not found (any other error fails the check).
file(WRITE ${PROBE} "#include \"${HEADER}\"\n")
string(REPLACE "|" ";" dirs "${INCLUDES}")
set(flags)
foreach(dir IN LISTS dirs)
  list(APPEND flags -I${dir})
endforeach()
execute_process(COMMAND ${COMPILER} -std=c++20 -fsyntax-only ${flags} ${PROBE}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(EXPECT STREQUAL "compiles")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${HEADER} does not compile in its own layer:\n${err}")
  endif()
elseif(result EQUAL 0)
  message(FATAL_ERROR "${HEADER} was included although its layer is above this one")
elseif(NOT err MATCHES "${HEADER}: No such file")
  message(FATAL_ERROR "${HEADER} failed for another reason than a missing include:\n${err}")
endif()
