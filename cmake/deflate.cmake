# deflate.cmake: the compressor behind the PNG writer, as the target
# kegkit_deflate. Native 64-bit Linux links the system's libdeflate
# (libdeflate-dev). The static Windows programs, 32-bit builds and the browser
# compile the library from Debian's source package into the programs, as its
# own Makefile does: lib/*.c and each architecture's cpu_features.c. The
# configure step fetches the source into build-deps/ (cmake/fetch_source.sh).
#
# KEGKIT_DEFLATE_SOURCE_DIR, the folder that holds libdeflate.h and lib/,
# compiles libdeflate into any build when set.
set(KEGKIT_DEFLATE_SOURCE_DIR "" CACHE PATH "Folder with libdeflate's libdeflate.h and lib/, compiled into the programs")

if(WIN32 OR CMAKE_SIZEOF_VOID_P EQUAL 4 OR EMSCRIPTEN OR KEGKIT_DEFLATE_SOURCE_DIR)
  if(NOT KEGKIT_DEFLATE_SOURCE_DIR)
    include(fetch_source)
    kegkit_source_dir(libdeflate _deflate_root)
    set(KEGKIT_DEFLATE_SOURCE_DIR "${_deflate_root}" CACHE PATH
        "Folder with libdeflate's libdeflate.h and lib/, compiled into the programs" FORCE)
  endif()
  if(NOT EXISTS "${KEGKIT_DEFLATE_SOURCE_DIR}/libdeflate.h" OR NOT EXISTS "${KEGKIT_DEFLATE_SOURCE_DIR}/lib/utils.c")
    message(FATAL_ERROR "No libdeflate.h and lib/utils.c in KEGKIT_DEFLATE_SOURCE_DIR (${KEGKIT_DEFLATE_SOURCE_DIR})")
  endif()

  enable_language(C)
  if(NOT CMAKE_C_SIZEOF_DATA_PTR EQUAL CMAKE_SIZEOF_VOID_P)
    message(FATAL_ERROR "The C compiler (for libdeflate) targets another word size than the C++ compiler: "
                        "give CMAKE_C_FLAGS the same -m32 as CMAKE_CXX_FLAGS")
  endif()
  file(GLOB _deflate_sources "${KEGKIT_DEFLATE_SOURCE_DIR}/lib/*.c" "${KEGKIT_DEFLATE_SOURCE_DIR}/lib/*/cpu_features.c")
  add_library(kegkit_deflate STATIC ${_deflate_sources})
  target_include_directories(kegkit_deflate SYSTEM PUBLIC "${KEGKIT_DEFLATE_SOURCE_DIR}")
  # The library's own settings; its code is not ours to warn about.
  set_target_properties(kegkit_deflate PROPERTIES C_STANDARD 99 C_EXTENSIONS ON C_VISIBILITY_PRESET hidden)
  target_compile_options(kegkit_deflate PRIVATE -w $<$<CONFIG:Debug>:-O2>)
  target_compile_definitions(kegkit_deflate PRIVATE _ANSI_SOURCE)
  message(STATUS "libdeflate: compiled from ${KEGKIT_DEFLATE_SOURCE_DIR}")
else()
  find_path(KEGKIT_DEFLATE_INCLUDE_DIR libdeflate.h)
  find_library(KEGKIT_DEFLATE_LIBRARY deflate)
  if(NOT KEGKIT_DEFLATE_INCLUDE_DIR OR NOT KEGKIT_DEFLATE_LIBRARY)
    message(FATAL_ERROR "libdeflate not found: install libdeflate-dev")
  endif()
  add_library(kegkit_deflate INTERFACE)
  target_include_directories(kegkit_deflate SYSTEM INTERFACE "${KEGKIT_DEFLATE_INCLUDE_DIR}")
  target_link_libraries(kegkit_deflate INTERFACE "${KEGKIT_DEFLATE_LIBRARY}")
  message(STATUS "libdeflate: ${KEGKIT_DEFLATE_LIBRARY}")
endif()
