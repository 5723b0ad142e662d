# Cross-build for aarch64 Linux with Debian's cross compiler against a Debian 12
# arm64 sysroot (scripts/arm64-sysroot.sh prints one). Test binaries run under
# qemu-user, so plain CTest works on the build machine.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DZQ_ARM64_SYSROOT=$(scripts/arm64-sysroot.sh)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

# try_compile projects read this file again without the cache: hand them the sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZQ_ARM64_SYSROOT)
if(NOT ZQ_ARM64_SYSROOT OR NOT EXISTS "${ZQ_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu")
  message(FATAL_ERROR "ZQ_ARM64_SYSROOT must name an arm64 sysroot (scripts/arm64-sysroot.sh prints it)")
endif()

set(CMAKE_SYSROOT "${ZQ_ARM64_SYSROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Build tools come from the machine, libraries and headers only from the sysroot.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")

# qemu's -L does not redirect faccessat(), with which Qt looks for its plugin
# folder, so the emulated program is told the folder's real path.
find_program(ZQ_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZQ_QEMU_AARCH64}" -L "${CMAKE_SYSROOT}"
    -E "QT_PLUGIN_PATH=${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu/qt5/plugins")

# Qt's code generators run on the build machine: the machine's own moc, uic and
# rcc, which must be the sysroot's Qt version. Qt's CMake files keep targets
# that already exist.
if(NOT CMAKE_IN_TRY_COMPILE)
  foreach(tool moc uic rcc)
    if(NOT TARGET Qt5::${tool})
      set(path /usr/lib/qt5/bin/${tool})
      if(NOT EXISTS ${path})
        message(FATAL_ERROR "${path} is missing (Debian package qtbase5-dev-tools)")
      endif()
      add_executable(Qt5::${tool} IMPORTED GLOBAL)
      set_target_properties(Qt5::${tool} PROPERTIES IMPORTED_LOCATION ${path})
    endif()
  endforeach()
  execute_process(COMMAND /usr/lib/qt5/bin/moc -v OUTPUT_VARIABLE host_moc
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(STRINGS "${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu/cmake/Qt5Core/Qt5CoreConfigVersion.cmake"
       sysroot_qt REGEX "set\\(PACKAGE_VERSION ")
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" sysroot_qt "${sysroot_qt}")
  if(NOT host_moc STREQUAL "moc ${sysroot_qt}")
    message(FATAL_ERROR "Qt ${sysroot_qt} in the sysroot, but the machine's tools are '${host_moc}'")
  endif()
endif()
