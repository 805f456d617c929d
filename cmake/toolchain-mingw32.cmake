# Cross-compiles for Windows with Debian's mingw-w64 (posix thread model).
# TOVRAK_WINDOWS_ARCH selects the target: i686 (32-bit, the program's users) or x86_64.
# TOVRAK_WINDOWS_DEPS names a prefix with libraries built for the same target (libpng,
# libjpeg, GoogleTest); it is searched beside the compiler's own sysroot.
set(TOVRAK_WINDOWS_ARCH "i686" CACHE STRING "Windows target: i686 or x86_64")
set(TOVRAK_WINDOWS_DEPS "" CACHE PATH "Prefix of the libraries cross-built for the target")

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TOVRAK_WINDOWS_ARCH})

set(_triplet ${TOVRAK_WINDOWS_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  ${_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
if(TOVRAK_WINDOWS_DEPS)
    list(PREPEND CMAKE_FIND_ROOT_PATH ${TOVRAK_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything links statically, so the program ships as one file without runtime DLLs:
# only static archives are found, and the C and C++ runtimes are linked in.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# try_compile projects see the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOVRAK_WINDOWS_ARCH TOVRAK_WINDOWS_DEPS)
