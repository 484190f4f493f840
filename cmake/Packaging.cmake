# What the installed program needs on Linux: the install rules (cmake --install) and the
# Debian package (cpack -G DEB in the build directory). Included at the end of the root
# CMakeLists.txt, once every target exists.
include(GNUInstallDirs)

# The program lives in its own directory; run from there it logs into each user's own state
# folder (~/.local/state/marlune-translate/logs) instead of beside itself. The command in bin
# is a link to it. A literal "lib": the multiarch libdir would hide it, and the program looks
# for <prefix>/lib/marlune-translate.
set(MARLUNE_PROGRAM_DIR lib/marlune-translate)
set(MARLUNE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/marlune-translate)

install(TARGETS marluneTranslate RUNTIME DESTINATION ${MARLUNE_PROGRAM_DIR})
install(TARGETS marluneEmulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The integration test stays executable; the one for Windows' cmd is the ZIP's alone.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${MARLUNE_DOC_DIR}/examples
        USE_SOURCE_PERMISSIONS PATTERN "*.cmd" EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${MARLUNE_DOC_DIR})

# Symbolic links are made at install time: file(INSTALL) cannot copy one that dangles.
function(marlune_install_link target link)
  set(component ${ARGN})
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    message(STATUS \"Installing: \${link} -> ${target}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)
  " ${component})
endfunction()

file(RELATIVE_PATH MARLUNE_BIN_TO_PROGRAM /${CMAKE_INSTALL_BINDIR}
     /${MARLUNE_PROGRAM_DIR}/marluneTranslate)
marlune_install_link(${MARLUNE_BIN_TO_PROGRAM} ${CMAKE_INSTALL_BINDIR}/marluneTranslate)

add_subdirectory(${CMAKE_SOURCE_DIR}/man ${CMAKE_BINARY_DIR}/man)

# Only in the package: the Debian changelog.
set(MARLUNE_DEB_ONLY COMPONENT deb EXCLUDE_FROM_ALL)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                   COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/changelog
                           > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(marlune_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${MARLUNE_DOC_DIR}
        ${MARLUNE_DEB_ONLY})

# The Debian package: everything above, in one package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marlune-translate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "marluneTranslate maintainers <maintainers@marlune-translate.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "one-shot console client for the Marlune translate service")
# The extended description, in lines short enough for dpkg's listings.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "marluneTranslate obtains a bearer token, submits a translate job for a file\n"
  "already uploaded to the service and/or waits for the job to end, optionally\n"
  "signing every request for the service's API gateway. Callers give it a JSON\n"
  "configuration and read the outcome from a small JSON result file and the exit\n"
  "status. Each user's log files go to a folder of their own,\n"
  "~/.local/state/marlune-translate/logs.\n"
  "\n"
  "The package also holds marluneEmulator, a local stand-in for the service and\n"
  "its gateway, for testing an integration without the cloud.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified deb)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ca-certificates)
# examples/integration-test.sh checks result files and the emulator's journal with them.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "curl, jq")
# Purging removes the shared log directory that earlier versions made; removing keeps it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
