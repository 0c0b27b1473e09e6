# Removes what an install into PREFIX put there, as listed by the manifest
# that install kept in the prefix, then zorbu's own folders. Shared ones,
# such as bin, stay even when empty. A copy is installed beside the
# manifest, and run from there it needs no PREFIX.
# Usage: cmake [-D PREFIX=DIR] -P uninstall.cmake
set(docdir share/doc/zorbu)
if(NOT PREFIX)
  get_filename_component(here "${CMAKE_CURRENT_LIST_DIR}" REALPATH)
  if(here MATCHES "/${docdir}$")
    get_filename_component(PREFIX "${here}/../../.." ABSOLUTE)
  else()
    message(FATAL_ERROR "usage: cmake -D PREFIX=DIR -P cmake/uninstall.cmake")
  endif()
endif()
# A relative prefix is taken from the folder the script runs in, as the
# install took it.
get_filename_component(PREFIX "${PREFIX}" ABSOLUTE)
set(manifest "${PREFIX}/${docdir}/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "${manifest}: no zorbu install in ${PREFIX}")
endif()
file(STRINGS "${manifest}" files)
set(failed "")
foreach(file IN LISTS files)
  # Entries are relative to the prefix; an absolute one must lie inside it.
  if(NOT IS_ABSOLUTE "${file}")
    set(file "${PREFIX}/${file}")
  endif()
  cmake_path(IS_PREFIX PREFIX "${file}" NORMALIZE inside)
  if(inside AND (EXISTS "${file}" OR IS_SYMLINK "${file}"))
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
    if(EXISTS "${file}" OR IS_SYMLINK "${file}")
      list(APPEND failed "${file}")
    endif()
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "could not remove: ${failed}")
endif()
# zorbu's own folders go once empty: those named for it, and those inside
# them. Shared ones, such as bin or lib, stay.
foreach(file IN LISTS files)
  if(NOT IS_ABSOLUTE "${file}")
    set(file "${PREFIX}/${file}")
  endif()
  get_filename_component(dir "${file}" DIRECTORY)
  while(dir MATCHES "/(zorbu|libzorbu0|libzorbu-dev)(/examples)?$" AND
        NOT dir STREQUAL PREFIX AND IS_DIRECTORY "${dir}")
    file(GLOB left "${dir}/*")
    if(left)
      break()
    endif()
    file(REMOVE_RECURSE "${dir}")
    get_filename_component(dir "${dir}" DIRECTORY)
  endwhile()
endforeach()
