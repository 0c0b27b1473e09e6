# Included by the top CMakeLists.txt, after the install rules: the Debian
# packages that cpack -G DEB makes of them.
# Debian packages, one a component: cpack -G DEB in a build folder gives
# zorbu (the program), libzorbu1 (the shared library) and libzorbu-dev.
set(CPACK_PACKAGE_NAME zorbu)
set(CPACK_PACKAGE_VENDOR "The zorbu authors")
set(CPACK_PACKAGE_CONTACT "${ZORBU_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Each package's description begins with its own synopsis; CPack puts the
# package summary before it unless the summary is CPack's own default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_NAME} built using CMake")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program library development python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME zorbu)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libzorbu1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzorbu-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libzorbu1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zorbu)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, libzorbu1 (>= ${PROJECT_VERSION})")
# Packages that link the library depend on libzorbu1 of the version that
# added the newest function they use, as the symbols file says.
set(symbols "libzorbu.so.${PROJECT_VERSION_MAJOR} libzorbu1 #MINVER#\n")
string(APPEND symbols "* Build-Depends-Package: libzorbu-dev\n")
# Each symbol came with the release its node names: LIBZORBU_1.1 with 1.1.0.
file(STRINGS tests/api/exported_symbols.txt exported)
foreach(symbol ${exported})
  if(NOT symbol MATCHES "@@")
    set(symbol "${symbol}@@${symbol}")
  endif()
  string(REGEX REPLACE ".*@@LIBZORBU_" "" since "${symbol}")
  string(REPLACE "." ";" since "${since}.0.0")
  list(SUBLIST since 0 3 since)
  list(JOIN since "." since)
  string(REPLACE "@@" "@" symbol "${symbol}")
  string(APPEND symbols " ${symbol} ${since}\n")
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/symbols "${symbols}")
# The library's folder is ldconfig's: a trigger runs it once for all the
# packages installed together, where scripts would run it for each.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/symbols ${CMAKE_CURRENT_BINARY_DIR}/debian/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/drop_ldconfig_scripts.cmake)
# The Python module is byte-compiled once installed and its bytecode removed
# before it goes, as Debian's Python policy has it.
foreach(script postinst prerm)
  configure_file(packaging/python3-zorbu.${script}
    ${CMAKE_CURRENT_BINARY_DIR}/debian/python/${script} COPYONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/python/postinst
  ${CMAKE_CURRENT_BINARY_DIR}/debian/python/prerm)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# CPack puts the summary first and indents these lines itself.
set(ZORBU_DESCRIPTION
  "zorbu checks that a file is an rt file, a line-oriented tag markup for
timed text, and writes a rewritten copy: colour names in color attributes
become hex codes, each self-closing time tag opens an element closed by
</time> after its text, and brackets inside the timed text are escaped as
{{{ and }}}.")
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
  "rewrite rt timed-text files for display
${ZORBU_DESCRIPTION}

This package holds the program. It reads its input once and writes as it
reads, in under 2 MiB of memory whatever the input, converts folders of
files in one process, and reports every failure with a one-line message and
a non-zero status.")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
  "rewrite rt timed-text files for display - shared library
${ZORBU_DESCRIPTION}

This package holds the shared library, for programs that convert rt files
in process through its streaming C interface.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "rewrite rt timed-text files for display - development files
${ZORBU_DESCRIPTION}

This package holds what building against the library needs: the C header,
the static library, pkg-config and CMake files, and the manual page of the
interface.")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
  "rewrite rt timed-text files for display - Python 3 module
${ZORBU_DESCRIPTION}

This package holds the Python 3 module, import zorbu, which converts bytes,
files and streams in process through the shared library, with exceptions,
type hints and docstrings.")
include(CPack)
