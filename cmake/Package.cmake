# The Debian package: the man page of dbfrepair and the README join the
# install rules of res/, and `cpack -G DEB` in the build folder turns them
# into orvane-tamsin-dbf_<version>_<arch>.deb. Only what has an install rule
# goes in: the tests, benchmarks and helper programs have none.
include(GNUInstallDirs)

set(ORV_PACKAGE_NAME orvane-tamsin-dbf)

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
install(FILES ${_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ORV_PACKAGE_NAME})

set(ORV_PACKAGE_MAINTAINER
  "Orvane Tamsin DBF maintainers <maintainers@users.noreply.c-seed-1d050908.example>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORV_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Orvane Tamsin DBF")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair tool for damaged DBF tables")
set(CPACK_PACKAGE_CONTACT "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME ${ORV_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary line of Description is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this
# is the long text under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Orvane Tamsin DBF repairs damaged dBASE III/IV, FoxPro 2.x, Clipper (SIx
memo) and Visual FoxPro tables and their memo files (.DBT, .FPT, .SMT). It
rebuilds the table's structure from the raw field descriptors, salvages every
record field by field, recovers memo texts and saves a well-formed table; the
source file is never modified.
.
The package holds the Qt desktop wizard (orvane-tamsin-dbf) and the
command-line tool (dbfrepair).")
# The Depends line comes from dpkg-shlibdeps (dpkg-dev): the Qt 6, libc and
# libstdc++ packages whose libraries the programs link against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
