# Cross-compiling for 64-bit Windows with Debian's mingw-w64, posix thread model
# (std::thread and Qt's threads need it).
#   -DCMAKE_TOOLCHAIN_FILE=packaging/windows/toolchain-mingw64.cmake
#   -DVQS_WINDOWS_PREFIXES="<Qt for Windows>;<other Windows libraries>"
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VQS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VQS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VQS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VQS_MINGW_TRIPLE}-windres)

# Libraries and packages come only from the Windows prefixes; programs (moc, rcc,
# icon tools) from the build machine.
set(VQS_WINDOWS_PREFIXES "" CACHE STRING "Prefixes holding Windows builds of Qt and the other libraries")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VQS_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${VQS_MINGW_TRIPLE} ${VQS_WINDOWS_PREFIXES})
set(CMAKE_PREFIX_PATH ${VQS_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
