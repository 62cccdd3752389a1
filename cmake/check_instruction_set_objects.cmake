# Fails when an object built for a wider instruction set (its name says avx2 or sse2) defines
# code that other objects may share: a weak function (ELF) or a COMDAT code section (COFF, where
# nm shows such a function as an ordinary one). Both come from inline functions; the linker keeps
# one copy for all callers, and keeping the wide copy would run its instructions on processors
# that lack them. Run with -DNM=<nm> -DOBJDUMP=<objdump> -DOBJECTS=<list separated by ;>.
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
  execute_process(COMMAND "${OBJDUMP}" -h -w "${object}" OUTPUT_VARIABLE sections
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]*CODE[^\n]*COMDAT[^\n]*" shared "${sections}")
  foreach(line IN LISTS shared)
    string(REGEX REPLACE ".*\\(COMDAT ([^ )]+).*" "\\1" symbol "${line}")
    string(APPEND found "${object}: COMDAT code ${symbol}\n")
  endforeach()
  set(checked TRUE)
endforeach()
if(NOT checked)
  message(FATAL_ERROR "no avx2 or sse2 object among the ones given")
endif()
if(found)
  message(FATAL_ERROR "shared inline functions built for a wider instruction set:\n${found}")
endif()
