# What every cross-build for Linux shares; the file for one target sets
# ZORBU_CROSS_ARCH (the GNU triple's first part) and ZORBU_CROSS_QEMU, then
# includes this one. Debian's g++-ARCH-linux-gnu builds; the programs are
# linked statically, so that qemu-user runs them with no sysroot of the
# target's libraries, and ctest runs every test through it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ZORBU_CROSS_ARCH})
set(CMAKE_C_COMPILER ${ZORBU_CROSS_ARCH}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${ZORBU_CROSS_ARCH}-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZORBU_CROSS_QEMU})
set(CMAKE_FIND_ROOT_PATH /usr/${ZORBU_CROSS_ARCH}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
