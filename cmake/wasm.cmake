# WebAssembly: the library alone, as the two modules of the JavaScript
# package, from the same sources in one build. zorbu.wasm has the wasm
# kernels, for engines with 128-bit SIMD; zorbu-portable.wasm has the
# portable ones alone, and no SIMD instruction anywhere, for the engines
# without it. Both export the C interface, import nothing but the WASI
# calls that an abort would make, and land in js/wasm/ for the package.
set(ZORBU_WASM_EXPORTS zorbu_version_string zorbu_create zorbu_free
    zorbu_set_kernels zorbu_kernels zorbu_reset zorbu_push zorbu_finish
    zorbu_result_text zorbu_bound zorbu_convert zorbu_invalid_reason
    zorbu_reason malloc free)
list(TRANSFORM ZORBU_WASM_EXPORTS PREPEND _)
list(JOIN ZORBU_WASM_EXPORTS "," ZORBU_WASM_EXPORTS)
get_target_property(ZORBU_LIBRARY_SOURCES zorbu_objects SOURCES)
set_target_properties(zorbu_objects PROPERTIES EXCLUDE_FROM_ALL ON)

# zorbu.wasm has every set of the table built for wasm32, and is built and
# linked whole for what they need (SIMD and bulk memory, which every engine
# with SIMD has); zorbu-portable.wasm has the portable set alone, and
# neither.
zorbu_kernel_sets(wasm32 ZORBU_WASM_KERNEL_SETS)
foreach(module zorbu zorbu-portable)
  set(target wasm_${module})
  add_executable(${target} ${ZORBU_LIBRARY_SOURCES})
  set(sets portable)
  if(module STREQUAL "zorbu")
    set(sets ${ZORBU_WASM_KERNEL_SETS})
    foreach(set ${sets})
      if(NOT set STREQUAL "portable")
        target_sources(${target} PRIVATE lib/simd/${set}/kernels.cpp)
        list(TRANSFORM ZORBU_NEEDS_${set} PREPEND -m OUTPUT_VARIABLE flags)
        # Linked so too: the C library's memcpy becomes memory.copy.
        target_compile_options(${target} PRIVATE ${flags})
        target_link_options(${target} PRIVATE ${flags})
      endif()
    endforeach()
  endif()
  zorbu_kernel_sets_header(${CMAKE_CURRENT_BINARY_DIR}/generated/${module} wasm32 ${sets})
  target_include_directories(${target} PRIVATE lib include
                             ${CMAKE_CURRENT_BINARY_DIR}/generated/${module})
  target_compile_definitions(${target} PRIVATE ZORBU_BUILDING_LIBRARY)
  # The C interface throws nothing and reports memory it cannot have as a
  # result, so exceptions stay as emscripten leaves them, without catching,
  # and malloc returns NULL rather than abort. The stack holds
  # zorbu_convert's 40 KiB spill with room to spare, and the memory starts
  # small and grows only as buffers are asked for.
  target_compile_options(${target} PRIVATE -O3)
  target_link_options(${target} PRIVATE
    -O3 -sSTANDALONE_WASM --no-entry
    "-sEXPORTED_FUNCTIONS=${ZORBU_WASM_EXPORTS}"
    -sALLOW_MEMORY_GROWTH=1 -sABORTING_MALLOC=0 -sMALLOC=emmalloc
    -sTOTAL_STACK=131072 -sINITIAL_MEMORY=1048576 -sFILESYSTEM=0)
  target_link_libraries(${target} PRIVATE zorbu_warnings)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${module}
    SUFFIX ".wasm" LINKER_LANGUAGE CXX)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}>
            ${PROJECT_SOURCE_DIR}/js/wasm/${module}.wasm
    VERBATIM)
endforeach()

# The package's version is the library's.
configure_file(js/package.json.in ${PROJECT_SOURCE_DIR}/js/package.json @ONLY)
