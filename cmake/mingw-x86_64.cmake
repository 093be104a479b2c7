# The same sources as 64-bit Windows programs, for machines (and Windows
# installations) that cannot run 32-bit ones.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
