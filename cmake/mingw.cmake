# What both MinGW-w64 toolchains share; each sets ORVET_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix thread model: GoogleTest needs std::thread and std::mutex.
set(CMAKE_C_COMPILER ${ORVET_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVET_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVET_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVET_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every test program runs under Wine in the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
