# Cross-builds for 64-bit ARM Linux, run under qemu-aarch64-static.
set(ZORBU_CROSS_ARCH aarch64)
set(ZORBU_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
