# Included by the top CMakeLists.txt: the manual pages, the licence and
# changelog, and what an install puts where.
# Installation: the program, its manual page, which takes its version from
# this project, and its licence and changelog in the forms Debian wants.
set(ZORBU_MAINTAINER "The zorbu authors <zorbu@packages.invalid>")
# The manual pages of the program (1) and of the library (3).
foreach(section 1 3)
  configure_file(man/zorbu.${section}.in ${CMAKE_CURRENT_BINARY_DIR}/zorbu.${section} @ONLY)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/zorbu.${section}.gz
    COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/zorbu.${section}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/zorbu.${section}
    COMMENT "Compressing the manual page zorbu(${section})"
    VERBATIM)
endforeach()
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/doc/copyright
         ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/doc
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DOUT_DIR=${CMAKE_CURRENT_BINARY_DIR}/doc -DNAME=zorbu
          "-DMAINTAINER=${ZORBU_MAINTAINER}"
          -P ${PROJECT_SOURCE_DIR}/cmake/package_docs.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          ${PROJECT_SOURCE_DIR}/cmake/package_docs.cmake
  COMMENT "Writing the copyright file and the changelog"
  VERBATIM)
add_custom_target(zorbu_docs ALL DEPENDS
  ${CMAKE_CURRENT_BINARY_DIR}/zorbu.1.gz
  ${CMAKE_CURRENT_BINARY_DIR}/zorbu.3.gz
  ${CMAKE_CURRENT_BINARY_DIR}/doc/copyright
  ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
# Before anything is installed, the folders that an install straight into a
# prefix is about to make, from the prefix itself down: the uninstall
# removes them again once they are empty, and no folder that was there.
set(ZORBU_INSTALL_FOLDERS ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1
    ${CMAKE_INSTALL_MANDIR}/man3 ${CMAKE_INSTALL_DOCDIR}/examples
    ${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_LIBDIR}/cmake/zorbu
    ${CMAKE_INSTALL_INCLUDEDIR} lib/python3/dist-packages/zorbu
    ${CMAKE_INSTALL_DATAROOTDIR}/doc)
install(CODE "set(ZORBU_INSTALL_FOLDERS \"${ZORBU_INSTALL_FOLDERS}\")")
install(CODE [[
  set(ZORBU_MADE_FOLDERS "")
  if("$ENV{DESTDIR}" STREQUAL "")
    get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
    foreach(folder IN LISTS ZORBU_INSTALL_FOLDERS)
      set(dir "${prefix}/${folder}")
      while(NOT EXISTS "${dir}")
        list(APPEND ZORBU_MADE_FOLDERS "${dir}")
        get_filename_component(dir "${dir}" DIRECTORY)
      endwhile()
    endforeach()
    list(REMOVE_DUPLICATES ZORBU_MADE_FOLDERS)
  endif()
]])
install(TARGETS zorbu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
# The compiler's and the C++ runtime's version notes are no use to a user.
install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zorbu\"
  COMMAND_ERROR_IS_FATAL ANY)" COMPONENT program)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zorbu.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES examples/hello.rt examples/captions.rt
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT program)

# The library: the shared one for programs that use it, and for building
# them the header, the static library, pkg-config and CMake files and the
# manual page of the interface. Each package carries the licence and the
# changelog in its own folder, as Debian wants.
install(TARGETS zorbu_shared EXPORT zorbu-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT development)
install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:zorbu_shared>\"
  COMMAND_ERROR_IS_FATAL ANY)" COMPONENT library)
install(TARGETS zorbu_core EXPORT zorbu-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# A stripped install strips the static library of its debug sections only.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:zorbu_core>\"
    COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT development)
install(FILES include/zorbu.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zorbu.3.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
# The static library needs the C++ runtime; the file finds the prefix from
# where it lies, so that it holds for any prefix the install is given.
set(ZORBU_PC_LIBS_PRIVATE "-lstdc++ -lm")
file(RELATIVE_PATH ZORBU_PC_PREFIX_FROM_PCDIR
     "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" ZORBU_PC_PREFIX_FROM_PCDIR "${ZORBU_PC_PREFIX_FROM_PCDIR}")
target_link_libraries(zorbu_core INTERFACE $<INSTALL_INTERFACE:stdc++;m>)
configure_file(packaging/zorbu.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zorbu.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zorbu.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
install(EXPORT zorbu-targets NAMESPACE zorbu:: FILE zorbu-targets.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zorbu COMPONENT development)
include(CMakePackageConfigHelpers)
configure_package_config_file(packaging/zorbu-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/zorbu-config.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zorbu)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zorbu-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zorbu-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/zorbu-config-version.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zorbu COMPONENT development)
# The Python package, where Debian's python3 looks for it.
file(GLOB ZORBU_PYTHON_MODULES CONFIGURE_DEPENDS python/zorbu/*.py)
install(FILES ${ZORBU_PYTHON_MODULES} python/zorbu/py.typed
        DESTINATION lib/python3/dist-packages/zorbu COMPONENT python)
foreach(component_doc program:zorbu library:libzorbu1 development:libzorbu-dev
        python:python3-zorbu)
  string(REPLACE ":" ";" pair ${component_doc})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/copyright
                ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT ${component})
endforeach()
# An install straight into a prefix, not staged under DESTDIR for a
# package, keeps a list of what it put there, relative to the prefix, and
# the script that removes it again, so that neither the source tree nor the
# folder the install ran in is needed to uninstall.
install(CODE "set(ZORBU_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
  set(ZORBU_UNINSTALL \"${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake\")")
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
    file(INSTALL "${ZORBU_UNINSTALL}" DESTINATION "${prefix}/${ZORBU_DOCDIR}")
    set(manifest "${prefix}/${ZORBU_DOCDIR}/install_manifest.txt")
    set(made "${prefix}/${ZORBU_DOCDIR}/install_folders.txt")
    set(listed "")
    foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES manifest made)
      get_filename_component(file "${file}" ABSOLUTE)
      file(RELATIVE_PATH file "${prefix}" "${file}")
      string(APPEND listed "${file}\n")
    endforeach()
    file(WRITE "${manifest}" "${listed}")
    set(listed "")
    foreach(folder IN LISTS ZORBU_MADE_FOLDERS)
      file(RELATIVE_PATH folder "${prefix}" "${folder}")
      if(folder STREQUAL "")
        set(folder .)
      endif()
      string(APPEND listed "${folder}\n")
    endforeach()
    file(WRITE "${made}" "${listed}")
  endif()
]])
