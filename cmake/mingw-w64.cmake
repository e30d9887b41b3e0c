# Cross-building the Windows programs on Debian with mingw-w64 (x86_64, POSIX threads, so
# std::thread and std::mutex work as on Linux). The tests run under Wine through CMake's
# cross-compiling emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RAID_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAID_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAID_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RAID_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${RAID_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(RAID_WINE NAMES wine wine64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${RAID_WINE})
