# Fails when an object built for a wider instruction set (its name says avx2 or sse2) defines a
# weak function. A weak function is an inline one that other files may share; the linker keeps
# one copy for all callers, and keeping the wide copy would run its instructions on processors
# that lack them. Run with -DNM=<nm> -DOBJECTS=<list separated by ;>.
set(found "")
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "(avx2|sse2)[^/]*$")
    continue()
  endif()
  execute_process(COMMAND "${NM}" --defined-only -C "${object}" OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]* W [^\n]*" weak "${symbols}")
  foreach(line IN LISTS weak)
    string(APPEND found "${object}: ${line}\n")
  endforeach()
  set(checked TRUE)
endforeach()
if(NOT checked)
  message(FATAL_ERROR "no avx2 or sse2 object among the ones given")
endif()
if(found)
  message(FATAL_ERROR "shared inline functions built for a wider instruction set:\n${found}")
endif()
