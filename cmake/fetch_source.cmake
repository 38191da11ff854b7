# fetch_source.cmake: kegkit_source_dir(PACKAGE VAR) sets VAR to the folder of
# Debian's source package PACKAGE unpacked in build-deps/ (or
# $KEGKIT_DEPS_DIR), running cmake/fetch_source.sh at configure time when it
# is not there yet.
function(kegkit_source_dir package var)
  execute_process(
    COMMAND bash "${PROJECT_SOURCE_DIR}/cmake/fetch_source.sh" ${package}
    OUTPUT_VARIABLE dir
    RESULT_VARIABLE result
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0 OR NOT IS_DIRECTORY "${dir}")
    message(FATAL_ERROR "This build compiles ${package} from Debian's source package, and "
                        "'bash cmake/fetch_source.sh ${package}' could not fetch it; "
                        "or set ${var} to the unpacked source")
  endif()
  set(${var} "${dir}" PARENT_SCOPE)
endfunction()
