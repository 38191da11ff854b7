# 32-bit x86 Linux with Debian's g++-multilib. This kernel may not run 32-bit
# programs, and binfmt_misc may be missing, so every test program, and every
# program the tests start, runs through qemu-i386 (Debian's qemu-user).
# SSE2 arithmetic and 64-bit file offsets come from target_flags.cmake.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
