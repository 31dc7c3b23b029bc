# Cross-compiling for Linux on arm64 (aarch64) with Debian's cross compilers
# (crossbuild-essential-arm64). The arm64 libraries are Debian's own, installed
# beside the amd64 ones through multiarch (/usr/lib/aarch64-linux-gnu), so
# there is no separate system root. Programs and tests run under
# qemu-aarch64-static (package qemu-user-static), the emulator CMake puts
# before every test command and discovery run of an arm64 program.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Installed into Debian's multiarch folder too, as GNUInstallDirs does for a
# native build (and skips for a cross build).
set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
find_program(LZS_QEMU_AARCH64 qemu-aarch64-static)
if(LZS_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LZS_QEMU_AARCH64})
endif()
