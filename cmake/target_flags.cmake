# Flags that depend on the target rather than on the build type, worked out
# from the compiler itself, so that `CXXFLAGS=-m32 cmake ...` needs no
# toolchain file:
# - 32-bit x86, on any platform: SSE2 scalar arithmetic. x87 arithmetic keeps
#   80-bit intermediates and changes the blend's results by one now and then.
# - 32-bit POSIX: 64-bit file offsets (and 64-bit time where the C library
#   has it). Without them readdir fails with EOVERFLOW on a file system with
#   64-bit inode numbers, and files past 2 GiB cannot be opened.
# composite.cpp and platform_posix.cpp check both with static_assert.
include(CheckCXXSourceCompiles)

check_cxx_source_compiles([[
#if !defined(__i386__) && !defined(_M_IX86)
#error not 32-bit x86
#endif
int main() { return 0; }
]] KEGKIT_TARGET_X86_32)

if(KEGKIT_TARGET_X86_32)
  set(CMAKE_REQUIRED_FLAGS "-msse2 -mfpmath=sse")
  check_cxx_source_compiles([[
#include <cfloat>
#if FLT_EVAL_METHOD != 0
#error excess precision
#endif
int main() { return 0; }
]] KEGKIT_HAVE_SSE2_MATH)
  unset(CMAKE_REQUIRED_FLAGS)
  if(NOT KEGKIT_HAVE_SSE2_MATH)
    message(FATAL_ERROR "The target is 32-bit x86, and ${CMAKE_CXX_COMPILER} cannot compile with SSE2 scalar "
                        "arithmetic (-msse2 -mfpmath=sse); x87 arithmetic would change the merged pictures. "
                        "Use a compiler that can (GCC or Clang).")
  endif()
  add_compile_options(-msse2 -mfpmath=sse)
endif()

if(NOT WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions(_FILE_OFFSET_BITS=64)
  # glibc 2.34 and later have 64-bit time_t on request; where time_t is
  # 64 bits anyway the definition changes nothing.
  set(CMAKE_REQUIRED_DEFINITIONS -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64)
  check_cxx_source_compiles([[
#include <ctime>
static_assert(sizeof(time_t) == 8);
int main() { return 0; }
]] KEGKIT_HAVE_TIME_BITS_64)
  unset(CMAKE_REQUIRED_DEFINITIONS)
  if(KEGKIT_HAVE_TIME_BITS_64)
    add_compile_definitions(_TIME_BITS=64)
  endif()
endif()
