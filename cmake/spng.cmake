# spng.cmake: the PNG library behind common/png_*.cpp, as the target
# kegkit_spng. Native 64-bit Linux links the system's libspng (libspng-dev).
# The static Windows programs and 32-bit Linux builds compile spng.c from
# Debian's source package into the programs, with zlib: the cross
# toolchain's static one (libz-mingw-w64-dev), or the 32-bit shared one
# (lib32z1-dev).
# The browser build compiles zlib from Debian's source too (zlib_source.cmake).
# The configure step fetches the sources into build-deps/ (cmake/fetch_source.sh).
#
# KEGKIT_SPNG_SOURCE_DIR, the folder that holds spng.c, compiles libspng into
# any build when set (the fuzzers use it to reach inside the decoder).
set(KEGKIT_SPNG_SOURCE_DIR "" CACHE PATH "Folder with libspng's spng.c, compiled into the programs")

if(WIN32 OR EMSCRIPTEN OR CMAKE_SIZEOF_VOID_P EQUAL 4 OR KEGKIT_SPNG_SOURCE_DIR)
  if(NOT KEGKIT_SPNG_SOURCE_DIR)
    include(fetch_source)
    kegkit_source_dir(libspng _spng_root)
    set(KEGKIT_SPNG_SOURCE_DIR "${_spng_root}/spng" CACHE PATH "Folder with libspng's spng.c, compiled into the programs" FORCE)
  endif()
  if(NOT EXISTS "${KEGKIT_SPNG_SOURCE_DIR}/spng.c" OR NOT EXISTS "${KEGKIT_SPNG_SOURCE_DIR}/spng.h")
    message(FATAL_ERROR "No spng.c and spng.h in KEGKIT_SPNG_SOURCE_DIR (${KEGKIT_SPNG_SOURCE_DIR})")
  endif()

  enable_language(C)
  if(NOT CMAKE_C_SIZEOF_DATA_PTR EQUAL CMAKE_SIZEOF_VOID_P)
    message(FATAL_ERROR "The C compiler (for spng.c) targets another word size than the C++ compiler: "
                        "give CMAKE_C_FLAGS the same -m32 as CMAKE_CXX_FLAGS")
  endif()
  if(EMSCRIPTEN)
    include(zlib_source)
    set(KEGKIT_ZLIB_INCLUDE_DIR "${_zlib_root}")
    set(KEGKIT_ZLIB_LIBRARY kegkit_zlib)
  else()
    # Static zlib, so that the programs need no library of their own; but the
    # system's shared one on 32-bit Linux, whose programs use the system's C
    # and C++ libraries anyway, and whose Debian package must not carry a copy
    # of zlib.
    find_path(KEGKIT_ZLIB_INCLUDE_DIR zlib.h)
    if(NOT WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
      find_library(KEGKIT_ZLIB_SHARED_LIBRARY NAMES z HINTS /usr/lib32)
      set(KEGKIT_ZLIB_LIBRARY "${KEGKIT_ZLIB_SHARED_LIBRARY}")
    else()
      find_library(KEGKIT_ZLIB_LIBRARY NAMES libz.a z)
    endif()
  endif()
  if(NOT KEGKIT_ZLIB_INCLUDE_DIR OR NOT KEGKIT_ZLIB_LIBRARY)
    message(FATAL_ERROR "No zlib for this target: install libz-mingw-w64-dev (Windows) or lib32z1-dev (32-bit Linux)")
  endif()

  add_library(kegkit_spng STATIC "${KEGKIT_SPNG_SOURCE_DIR}/spng.c")
  target_compile_definitions(kegkit_spng PUBLIC SPNG_STATIC)
  target_include_directories(kegkit_spng SYSTEM PUBLIC "${KEGKIT_SPNG_SOURCE_DIR}" "${KEGKIT_ZLIB_INCLUDE_DIR}")
  target_link_libraries(kegkit_spng PUBLIC "${KEGKIT_ZLIB_LIBRARY}")
  if(EMSCRIPTEN)
    # WebAssembly: its plain C filters (it has no SIMD code for it).
    target_compile_definitions(kegkit_spng PRIVATE SPNG_DISABLE_OPT)
  elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Its SSE2 filters; on 32-bit x86 the intrinsics headers need SSE2 enabled.
    target_compile_options(kegkit_spng PRIVATE -msse2)
  endif()
  if(NOT WIN32)
    target_link_libraries(kegkit_spng PUBLIC m)
  endif()
  message(STATUS "libspng: compiled from ${KEGKIT_SPNG_SOURCE_DIR}, zlib ${KEGKIT_ZLIB_LIBRARY}")
else()
  find_path(KEGKIT_SPNG_INCLUDE_DIR spng.h)
  find_library(KEGKIT_SPNG_LIBRARY spng)
  if(NOT KEGKIT_SPNG_INCLUDE_DIR OR NOT KEGKIT_SPNG_LIBRARY)
    message(FATAL_ERROR "libspng not found: install libspng-dev")
  endif()
  add_library(kegkit_spng INTERFACE)
  target_include_directories(kegkit_spng SYSTEM INTERFACE "${KEGKIT_SPNG_INCLUDE_DIR}")
  target_link_libraries(kegkit_spng INTERFACE "${KEGKIT_SPNG_LIBRARY}")
  message(STATUS "libspng: ${KEGKIT_SPNG_LIBRARY}")
endif()
