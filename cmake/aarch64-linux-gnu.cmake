# Cross build for 64-bit ARM Linux with Debian's cross compilers (g++-aarch64-linux-gnu),
# against a sysroot of Debian's arm64 packages, and every program the build or CTest runs
# under user-mode emulation (qemu-user-static):
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DCMAKE_SYSROOT="$(scripts/arm64-sysroot.sh)"
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

if(NOT CMAKE_SYSROOT)
  message(FATAL_ERROR "aarch64-linux-gnu.cmake: give the arm64 sysroot with -DCMAKE_SYSROOT=DIR "
                      "(scripts/arm64-sysroot.sh makes one and prints its path)")
endif()
if(NOT EXISTS "${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu")
  message(FATAL_ERROR "aarch64-linux-gnu.cmake: ${CMAKE_SYSROOT} is not an arm64 sysroot")
endif()

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Programs of the build machine; libraries, headers and packages of the sysroot only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the sysroot's .pc files and prefixes their paths with the sysroot.
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
unset(ENV{PKG_CONFIG_PATH})
# The MPI compiler wrapper on PATH is the build machine's; FindMPI takes the sysroot's MPI
# (which Debian's VTK links) from pkg-config instead.
set(MPI_SKIP_COMPILER_WRAPPER ON)

find_program(LITTERPOSE_QEMU_AARCH64 qemu-aarch64-static)
if(NOT LITTERPOSE_QEMU_AARCH64)
  message(FATAL_ERROR "aarch64-linux-gnu.cmake: qemu-aarch64-static not found "
                      "(Debian package qemu-user-static)")
endif()
# The emulator loads the sysroot's dynamic loader and libraries; no binfmt_misc needed.
# Mesa's llvmpipe renderer crashes in its JIT-compiled code under qemu-user, so programs
# that draw (the viewer on the virtual display) use its softpipe renderer, which compiles
# nothing at run time.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${LITTERPOSE_QEMU_AARCH64};-L;${CMAKE_SYSROOT};-E;GALLIUM_DRIVER=softpipe")
