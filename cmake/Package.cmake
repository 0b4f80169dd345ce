# The Debian packages: `cpack -G DEB` in the build folder makes two, one a
# component of the install rules (res/ and below):
#   dbfrepair_<version>_<arch>.deb          the command-line tool and its man
#                                           page; needs no Qt
#   orvane-tamsin-dbf_<version>_<arch>.deb  the desktop program, which
#                                           depends on the first
# Only what has an install rule goes in: the tests, benchmarks and helper
# programs have none.
include(GNUInstallDirs)

# Windows: the release is one zip, dbfrepair-VERSION-windows-x64.zip, with
# the statically linked dbfrepair.exe (stripped), README and LICENSE:
# `cmake --build DIR --target orv_windows_zip`.
if(WIN32)
  set(_zip_name dbfrepair-${PROJECT_VERSION}-windows-x64)
  set(_zip ${CMAKE_BINARY_DIR}/${_zip_name}.zip)
  set(_stage ${CMAKE_BINARY_DIR}/zip/${_zip_name})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/zip)
  add_custom_command(OUTPUT ${_zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:dbfrepair> ${CMAKE_SOURCE_DIR}/README.md
            ${CMAKE_SOURCE_DIR}/LICENSE ${_stage}
    COMMAND ${CMAKE_STRIP} ${_stage}/dbfrepair.exe
    COMMAND ${CMAKE_COMMAND} -E rm -f ${_zip}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${_zip} --format=zip ${_zip_name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/zip
    DEPENDS dbfrepair ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
    COMMENT "Packing ${_zip_name}.zip"
    VERBATIM)
  add_custom_target(orv_windows_zip DEPENDS ${_zip})
  return()
endif()

set(ORV_PACKAGE_NAME orvane-tamsin-dbf)
set(ORV_CLI_PACKAGE_NAME dbfrepair)

# dbfrepair(1), compressed as Debian keeps man pages: gzip -9n, no name or
# time stamp in the archive, so the same source gives the same bytes.
find_program(ORV_GZIP gzip REQUIRED)
set(_man_src ${CMAKE_SOURCE_DIR}/res/dbfrepair.1)
set(_man_dir ${CMAKE_BINARY_DIR}/man)
set(_man_gz ${_man_dir}/dbfrepair.1.gz)
add_custom_command(OUTPUT ${_man_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
  COMMAND ${CMAKE_COMMAND} -E copy ${_man_src} ${_man_dir}/dbfrepair.1
  COMMAND ${ORV_GZIP} -9nf ${_man_dir}/dbfrepair.1
  DEPENDS ${_man_src}
  COMMENT "Compressing the dbfrepair man page"
  VERBATIM)
add_custom_target(orv_man_page ALL DEPENDS ${_man_gz})
install(FILES ${_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)

set(ORV_PACKAGE_MAINTAINER
  "Orvane Tamsin DBF maintainers <maintainers@users.noreply.c-seed-1d050908.example>"
  CACHE STRING "Maintainer field of the Debian package")

# What Debian asks of every package's doc folder: the copyright file, and the
# changelog of a native package as changelog.gz (gzip -9n, like the man page).
# The changelog's newest entry must name the version being packaged.
set(_changelog_src ${CMAKE_SOURCE_DIR}/res/package/changelog.in)
file(STRINGS ${_changelog_src} _changelog_head LIMIT_COUNT 1)
if(NOT _changelog_head MATCHES "\\(${PROJECT_VERSION}\\)")
  message(FATAL_ERROR "res/package/changelog.in: the first entry is not for version ${PROJECT_VERSION}")
endif()
set(ORV_PACKAGE_COMPONENTS cli)
if(TARGET orvane-tamsin-dbf)
  list(APPEND ORV_PACKAGE_COMPONENTS desktop)
endif()
foreach(_component ${ORV_PACKAGE_COMPONENTS})
  if(_component STREQUAL "cli")
    set(ORV_PACKAGE_NAME_OF_COMPONENT ${ORV_CLI_PACKAGE_NAME})
  else()
    set(ORV_PACKAGE_NAME_OF_COMPONENT ${ORV_PACKAGE_NAME})
  endif()
  set(_changelog_dir ${CMAKE_BINARY_DIR}/changelog/${_component})
  configure_file(${_changelog_src} ${_changelog_dir}/changelog @ONLY)
  set(_changelog_gz ${_changelog_dir}/changelog.gz)
  add_custom_command(OUTPUT ${_changelog_gz}
    COMMAND ${ORV_GZIP} -9nkf ${_changelog_dir}/changelog
    DEPENDS ${_changelog_dir}/changelog
    COMMENT "Compressing the changelog of ${ORV_PACKAGE_NAME_OF_COMPONENT}"
    VERBATIM)
  add_custom_target(orv_changelog_${_component} ALL DEPENDS ${_changelog_gz})
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${_changelog_gz} ${CMAKE_SOURCE_DIR}/res/package/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ORV_PACKAGE_NAME_OF_COMPONENT} COMPONENT ${_component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORV_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Orvane Tamsin DBF")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${ORV_PACKAGE_COMPONENTS})
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${ORV_CLI_PACKAGE_NAME})
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME ${ORV_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Description: the summary line, then the long text under it. No package-wide
# summary is set: CPack would put it above each package's own.
set(_about "Orvane Tamsin DBF repairs damaged dBASE III/IV, FoxPro 2.x, Clipper (SIx
memo) and Visual FoxPro tables and their memo files (.DBT, .FPT, .SMT). It
rebuilds the table's structure from the raw field descriptors, salvages every
record field by field, recovers memo texts and saves a well-formed table; the
source file is never modified.
.")
set(CPACK_DEBIAN_CLI_DESCRIPTION "command-line repair tool for damaged DBF tables
${_about}
This package holds the command-line tool (dbfrepair).")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "repair tool for damaged DBF tables
${_about}
This package holds the Qt desktop wizard (orvane-tamsin-dbf); the
command-line tool is in the package dbfrepair.")
# The Depends lines come from dpkg-shlibdeps (dpkg-dev): the libc and
# libstdc++ packages, and Qt 6 for the desktop program, which needs the
# command-line tool's package of the same version as well.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "${ORV_CLI_PACKAGE_NAME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
