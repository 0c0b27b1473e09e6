# The kernel sets of lib/simd/kernel_sets.txt that a build has: their
# sources, their compile flags, and a generated header, kernel_set_list.hpp,
# with their list in the dispatcher's order and the test of what each
# needs of the processor.

# Sets OUT_SETS, in the parent scope, to the sets built for ARCH, in the
# table's order, and ZORBU_NEEDS_<set> to what each needs.
function(zorbu_kernel_sets arch out_sets)
  file(STRINGS ${PROJECT_SOURCE_DIR}/lib/simd/kernel_sets.txt rows REGEX "^[a-z]")
  set(sets "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "[ \t]+" ";" fields "${row}")
    list(POP_FRONT fields name set_arch)
    if(set_arch STREQUAL "any" OR set_arch STREQUAL arch)
      list(APPEND sets ${name})
      list(REMOVE_ITEM fields -)
      set(ZORBU_NEEDS_${name} ${fields} PARENT_SCOPE)
    endif()
  endforeach()
  set(${out_sets} ${sets} PARENT_SCOPE)
endfunction()

# Writes DIR/kernel_set_list.hpp for SETS: ZORBU_KERNEL_SETS(X), which names
# each set in the dispatcher's order, and ZORBU_<SET>_RUNS_HERE, the test
# of what a set needs, where the processor has to be asked (x86).
function(zorbu_kernel_sets_header dir arch)
  set(text "// Made by cmake/kernel_sets.cmake from lib/simd/kernel_sets.txt.\n")
  string(APPEND text "#pragma once\n#define ZORBU_KERNEL_SETS(X)")
  foreach(set ${ARGN})
    string(APPEND text " X(${set})")
  endforeach()
  string(APPEND text "\n")
  foreach(set ${ARGN})
    string(TOUPPER ${set} name)
    if(arch STREQUAL "x86_64" AND ZORBU_NEEDS_${set})
      list(TRANSFORM ZORBU_NEEDS_${set} REPLACE "(.+)" "__builtin_cpu_supports(\"\\1\")"
           OUTPUT_VARIABLE tests)
      list(JOIN tests " && " tests)
    else()
      set(tests 1)
    endif()
    string(APPEND text "#define ZORBU_${name}_RUNS_HERE (${tests})\n")
  endforeach()
  file(CONFIGURE OUTPUT ${dir}/kernel_set_list.hpp CONTENT "${text}")
endfunction()
