# Cross-builds for 32-bit x86 Linux, run under qemu-i386-static.
set(ZORBU_CROSS_ARCH i686)
set(ZORBU_CROSS_QEMU qemu-i386-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
