# version.cmake: KEGKIT_VERSION_LINE, the line kegkit --version prints:
# "kegkit 1.0" from the project's version, and " (commit 0123456789ab)" where
# the source is a git checkout (a tarball without .git has none). The
# configure step runs again when the checkout's HEAD moves, so that the line
# names the commit that was built. KEGKIT_COMMIT_TIME: the commit's time in
# seconds since 1970, or empty.
set(KEGKIT_VERSION_LINE "kegkit ${PROJECT_VERSION}")
set(KEGKIT_COMMIT "")
set(KEGKIT_COMMIT_TIME "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" rev-parse --short=12 HEAD
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
    OUTPUT_VARIABLE KEGKIT_COMMIT
    RESULT_VARIABLE _git_result
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(_git_result EQUAL 0 AND KEGKIT_COMMIT MATCHES "^[0-9a-f]+$")
    string(APPEND KEGKIT_VERSION_LINE " (commit ${KEGKIT_COMMIT})")
    # The commit's time dates what the build renders (manual pages).
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" log -1 --format=%ct
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
      OUTPUT_VARIABLE KEGKIT_COMMIT_TIME
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # HEAD, the branch it points to, and packed refs: a commit changes one of them.
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" symbolic-ref -q HEAD
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
      OUTPUT_VARIABLE _git_branch
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(_git_paths --git-path HEAD --git-path packed-refs)
    if(_git_branch)
      list(APPEND _git_paths --git-path "${_git_branch}")
    endif()
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" rev-parse --path-format=absolute ${_git_paths}
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
      OUTPUT_VARIABLE _git_files
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REPLACE "\n" ";" _git_files "${_git_files}")
    foreach(_file IN LISTS _git_files)
      if(EXISTS "${_file}")
        set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_file}")
      endif()
    endforeach()
  else()
    set(KEGKIT_COMMIT "")
    set(KEGKIT_COMMIT_TIME "")
  endif()
endif()
