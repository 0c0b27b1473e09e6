# Cross-builds for big-endian IBM Z Linux, run under qemu-s390x-static.
set(ZORBU_CROSS_ARCH s390x)
set(ZORBU_CROSS_QEMU qemu-s390x-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
