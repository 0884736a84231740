# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the POSIX thread
# model, so that std::thread and std::mutex are there). Programs are linked
# statically, so that they run under Wine or on Windows without the compiler's
# DLLs beside them.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DORBEL_GTEST_SOURCE=/usr/src/googletest
#         [-DORBEL_QT_MINGW=<Qt> -DCMAKE_PREFIX_PATH=<Qt> -DQT_HOST_PATH=/usr]
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORBEL_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(ORBEL_MINGW_CXX NAMES ${ORBEL_MINGW_TRIPLET}-g++-posix ${ORBEL_MINGW_TRIPLET}-g++)
find_program(ORBEL_MINGW_CC NAMES ${ORBEL_MINGW_TRIPLET}-gcc-posix ${ORBEL_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ORBEL_MINGW_CXX})
set(CMAKE_C_COMPILER ${ORBEL_MINGW_CC})
set(CMAKE_RC_COMPILER ${ORBEL_MINGW_TRIPLET}-windres)

# Libraries and packages come from the target's folder only, never from the
# build machine's /usr; programs (code generators) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORBEL_MINGW_TRIPLET})
# A Qt built for the target (scripts/qt-mingw.sh) is a root of its own; name
# it with -DORBEL_QT_MINGW=<its prefix> and -DCMAKE_PREFIX_PATH=<its prefix>.
if(ORBEL_QT_MINGW)
  list(APPEND CMAKE_FIND_ROOT_PATH ${ORBEL_QT_MINGW})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config would otherwise answer with the build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${ORBEL_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
