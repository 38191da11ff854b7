# zlib_source.cmake: zlib compiled from Debian's source package as the static
# target kegkit_zlib, for targets that have no zlib of their own to link
# (the browser build). The configure step fetches the source into
# build-deps/ (cmake/fetch_source.sh).
include(fetch_source)
kegkit_source_dir(zlib _zlib_root)
enable_language(C)
# The library alone: no gz* file functions, which the kit does not use.
add_library(kegkit_zlib STATIC
  "${_zlib_root}/adler32.c" "${_zlib_root}/crc32.c" "${_zlib_root}/deflate.c" "${_zlib_root}/inflate.c"
  "${_zlib_root}/inffast.c" "${_zlib_root}/inftrees.c" "${_zlib_root}/trees.c" "${_zlib_root}/zutil.c"
  "${_zlib_root}/compress.c" "${_zlib_root}/uncompr.c")
target_include_directories(kegkit_zlib SYSTEM PUBLIC "${_zlib_root}")
# Its own code, with its own habits: no warnings of ours.
target_compile_options(kegkit_zlib PRIVATE -w)
message(STATUS "zlib: compiled from ${_zlib_root}")
