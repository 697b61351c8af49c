# Cross-builds the Windows DLL with Debian's mingw-w64 for 64-bit Windows, and runs what it builds
# under Wine. The posix thread model is required: the win32 model has no std::thread.
#
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VESPERLINE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VESPERLINE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESPERLINE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VESPERLINE_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VESPERLINE_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for Windows files")

set(CMAKE_FIND_ROOT_PATH /usr/${VESPERLINE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthread) is linked into every file, so that no
# runtime DLL has to lie beside the plugin in the server's folder. Memory still comes from the
# system's C runtime DLL, so a string allocated in one of our DLLs may be freed in another.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest runs the .exe files under Wine, with a prefix of its own inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run;${CMAKE_BINARY_DIR}/wine")
