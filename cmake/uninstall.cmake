# Removes what an install into PREFIX put there, as listed by the manifest
# that install kept in the prefix, then zorbu's own folders. Shared ones,
# such as bin, stay even when empty.
# Usage: cmake -D PREFIX=DIR -P cmake/uninstall.cmake
if(NOT PREFIX)
  message(FATAL_ERROR "usage: cmake -D PREFIX=DIR -P cmake/uninstall.cmake")
endif()
set(manifest "${PREFIX}/share/doc/zorbu/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "${manifest}: no zorbu install in ${PREFIX}")
endif()
file(STRINGS "${manifest}" files)
foreach(file IN LISTS files)
  # Only what lies inside the prefix, whatever the manifest says.
  cmake_path(IS_PREFIX PREFIX "${file}" NORMALIZE inside)
  if(inside AND (EXISTS "${file}" OR IS_SYMLINK "${file}"))
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
  endif()
endforeach()
foreach(dir share/doc/zorbu/examples share/doc/zorbu)
  file(GLOB left "${PREFIX}/${dir}/*")
  if(IS_DIRECTORY "${PREFIX}/${dir}" AND NOT left)
    file(REMOVE_RECURSE "${PREFIX}/${dir}")
  endif()
endforeach()
