# The Debian package: `cmake --build BUILD --target package` writes
# tomerack_<version>_<arch>.deb.
#
# The program directory keeps the layout of `cmake --install` (component
# "Unspecified"), placed at /opt/tomerack. What ties it into the system (the
# menu entry, icon, manual page, /usr/bin link, documentation) is the
# component "system", left out of a plain `cmake --install`, so that
# installing into a program directory never writes below /usr.

set(TOMERACK_PACKAGE_PREFIX /opt/tomerack)
set(TOMERACK_MAINTAINER "TomeRack maintainers <maintainers@users.noreply.c-seed-9006932b.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(packaging_source ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_binary ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_binary})

install(FILES ${packaging_source}/tomerack.desktop
  DESTINATION /usr/share/applications COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${packaging_source}/tomerack.svg
  DESTINATION /usr/share/icons/hicolor/scalable/apps COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${packaging_source}/lintian-overrides
  DESTINATION /usr/share/lintian/overrides RENAME tomerack COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${packaging_source}/copyright
  DESTINATION /usr/share/doc/tomerack COMPONENT system EXCLUDE_FROM_ALL)

# Debian wants the manual page and the changelog compressed, reproducibly.
string(TIMESTAMP TOMERACK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${packaging_source}/changelog.in ${packaging_binary}/changelog @ONLY)
add_custom_command(
  OUTPUT ${packaging_binary}/tomerack-tool.1.gz ${packaging_binary}/changelog.gz
  COMMAND gzip -9n -c ${packaging_source}/tomerack-tool.1 > ${packaging_binary}/tomerack-tool.1.gz
  COMMAND gzip -9n -c ${packaging_binary}/changelog > ${packaging_binary}/changelog.gz
  DEPENDS ${packaging_source}/tomerack-tool.1 ${packaging_binary}/changelog
  VERBATIM)
add_custom_target(tomerack_package_docs ALL
  DEPENDS ${packaging_binary}/tomerack-tool.1.gz ${packaging_binary}/changelog.gz)
install(FILES ${packaging_binary}/tomerack-tool.1.gz
  DESTINATION /usr/share/man/man1 COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${packaging_binary}/changelog.gz
  DESTINATION /usr/share/doc/tomerack COMPONENT system EXCLUDE_FROM_ALL)

# The admin tool on the PATH; /proc/self/exe still finds the program
# directory behind the link.
file(CREATE_LINK ${TOMERACK_PACKAGE_PREFIX}/tomerack-tool ${packaging_binary}/tomerack-tool SYMBOLIC)
install(FILES ${packaging_binary}/tomerack-tool
  DESTINATION /usr/bin COMPONENT system EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tomerack)
set(CPACK_PACKAGE_VENDOR "TomeRack")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${TOMERACK_PACKAGE_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified system)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOMERACK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "digital-textbook client for school desktops\n"
  "TomeRack shows the textbook service's pages in its own window and keeps\n"
  "the signed-in pupil's or teacher's textbooks on the machine: it downloads,\n"
  "verifies, installs, upgrades and removes them and opens each in its reader.\n"
  "One installation serves every desktop account in the group tomerack:\n"
  "books downloaded by one account are there for the next.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
# Libraries the programs link come from dpkg-shlibdeps. The rest is loaded
# at run time or used by the maintainer scripts: the ODBC drivers the client
# opens by name and odbcinst to register them, a font with Chinese
# characters for the pages, the certificates for HTTPS, addgroup.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "adduser, odbcinst, unixodbc, libsqliteodbc, odbc-mdbtools, fonts-wqy-zenhei, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${packaging_source}/postinst ${packaging_source}/prerm ${packaging_source}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
