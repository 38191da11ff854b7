# packaging.cmake: where `cmake --install` puts the kit, and what cpack makes
# of it (cd BUILD && cpack).
# - Linux, by GNUInstallDirs: the programs in bin/, manual pages in
#   share/man/man1/ (rendered from the programs' --help by
#   packaging/man/make_pages.sh), the bash completion in
#   share/bash-completion/completions/, the README, its pictures, the
#   copyright and the changelog in share/doc/kegkit/. cpack makes
#   kegkit-VERSION-linux-ARCH.tar.gz and kegkit_VERSION_ARCH.deb (amd64 from
#   the native build, i386 from the linux-i686 preset), its dependencies
#   worked out by dpkg-shlibdeps.
# - Windows: a flat zip, the programs beside README.txt (for people who
#   double-click) and README.md.
# A build that compiles libspng and zlib into its programs also carries
# their notices.
set(KEGKIT_PROGRAMS kegkit kegsplit-2.11 kegsplit-2.12 kegsplit-2.13 palimp)
set(_packaging ${PROJECT_SOURCE_DIR}/packaging)

# The notices of the libraries compiled into the programs (spng.cmake).
set(_notices "")
if(TARGET kegkit_spng AND KEGKIT_SPNG_SOURCE_DIR)
  get_target_property(_spng_type kegkit_spng TYPE)
  if(_spng_type STREQUAL "STATIC_LIBRARY")
    file(READ "${KEGKIT_SPNG_SOURCE_DIR}/../LICENSE" _spng_license)
    set(_notices "The programs of this build contain libspng.\n\nlibspng:\n\n${_spng_license}")
    if(KEGKIT_ZLIB_LIBRARY MATCHES "\\.a$")
      # zlib's notice is the opening comment of zlib.h.
      file(STRINGS "${KEGKIT_ZLIB_INCLUDE_DIR}/zlib.h" _zlib_lines)
      set(_zlib_notice "")
      foreach(_line IN LISTS _zlib_lines)
        string(APPEND _zlib_notice "${_line}\n")
        if(_line MATCHES "\\*/")
          break()
        endif()
      endforeach()
      set(_notices "The programs of this build contain libspng and zlib.\n\nlibspng:\n\n${_spng_license}\nzlib:\n\n${_zlib_notice}")
    endif()
  endif()
endif()

if(WIN32)
  install(TARGETS ${KEGKIT_PROGRAMS} RUNTIME DESTINATION .)
  # Text files with CR LF, as Notepad has always wanted them.
  file(READ ${_packaging}/windows/README.txt _readme)
  string(REPLACE "\n" "\r\n" _readme "${_readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/README.txt "${_readme}")
  install(FILES README.md ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .)
  if(_notices)
    string(REPLACE "\n" "\r\n" _notices "${_notices}")
    file(WRITE ${CMAKE_BINARY_DIR}/packaging/THIRD-PARTY.txt "${_notices}")
    install(FILES ${CMAKE_BINARY_DIR}/packaging/THIRD-PARTY.txt DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  include(GNUInstallDirs)
  install(TARGETS ${KEGKIT_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/bash-completion/kegkit DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

  # The Debian copyright file, with the notices of what the programs
  # contain, and the changelog as Debian wants it (gzip -9n).
  file(READ ${_packaging}/debian/copyright _copyright)
  if(_notices)
    string(APPEND _copyright "\n${_notices}")
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/copyright "${_copyright}")
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND sh -c "gzip -9n < '${_packaging}/debian/changelog' > '${CMAKE_BINARY_DIR}/packaging/changelog.gz'"
    DEPENDS ${_packaging}/debian/changelog
    VERBATIM)
  set(_shared_docs ${CMAKE_BINARY_DIR}/packaging/changelog.gz)

  # The pages, rendered again whenever a program changes; dated by the
  # commit where there is one, so that a build of the same source makes the
  # same pages.
  find_program(KEGKIT_HELP2MAN help2man)
  if(KEGKIT_HELP2MAN)
    set(_date_env "")
    if(KEGKIT_COMMIT_TIME)
      set(_date_env SOURCE_DATE_EPOCH=${KEGKIT_COMMIT_TIME})
    endif()
    set(_man ${CMAKE_BINARY_DIR}/man)
    file(GLOB _page_sources CONFIGURE_DEPENDS ${_packaging}/man/*)
    add_custom_command(
      OUTPUT ${_man}/pages.stamp
      COMMAND ${CMAKE_COMMAND} -E env ${_date_env} bash ${_packaging}/man/make_pages.sh ${PROJECT_SOURCE_DIR}
              ${CMAKE_BINARY_DIR} ${_man} ${CMAKE_CROSSCOMPILING_EMULATOR}
      COMMAND ${CMAKE_COMMAND} -E touch ${_man}/pages.stamp
      DEPENDS ${KEGKIT_PROGRAMS} ${_page_sources}
      COMMENT "Manual pages from the programs' --help"
      VERBATIM)
    list(APPEND _shared_docs ${_man}/pages.stamp)
    install(DIRECTORY ${_man}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 FILES_MATCHING PATTERN "*.1.gz")
  else()
    message(WARNING "help2man not found: this build makes no manual pages (./setup.sh installs it)")
  endif()
  add_custom_target(manual_pages ALL DEPENDS ${_shared_docs})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                  WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kegkit developers <kegkit@example.org>")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # A 32-bit build on a 64-bit machine: name its architecture, and look up
    # its libraries among the i386 ones.
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
    execute_process(COMMAND dpkg-query -W -f "\${db:Status-Abbrev}" libstdc++6:i386 zlib1g:i386
                    OUTPUT_VARIABLE _i386_status ERROR_QUIET)
    if(NOT _i386_status STREQUAL "ii ii ")
      message(WARNING "libstdc++6:i386 and zlib1g:i386 are not installed: the i386 package would depend on "
                      "this system's 32-bit copies (lib32stdc++6, lib32z1) instead; install them before "
                      "making a package to ship")
    endif()
  endif()
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY, the text below it this.
  file(READ ${_packaging}/debian/description _description)
  string(STRIP "${_description}" _description)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${_description}")
else()
  install(TARGETS ${KEGKIT_PROGRAMS} RUNTIME DESTINATION bin)
endif()

set(CPACK_PACKAGE_NAME kegkit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract, merge and repack the pictures of .cgf game archives")
include(CPack)
