# The Windows package: a ZIP (cpack -G ZIP in the build directory) holding the two programs,
# the README, the two manuals as plain text and the sample configurations. The programs find
# "logs" beside themselves.
install(TARGETS marluneTranslate marluneEmulator RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

# The manual pages as text, made with the build host's groff (no bold or underline).
find_program(GROFF_EXECUTABLE groff REQUIRED)
set(manuals)
foreach(page marluneTranslate marluneEmulator)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${page}.txt
                     COMMAND ${GROFF_EXECUTABLE} -man -Tascii -P-cbu
                             ${CMAKE_SOURCE_DIR}/man/${page}.1 > ${CMAKE_BINARY_DIR}/${page}.txt
                     DEPENDS ${CMAKE_SOURCE_DIR}/man/${page}.1 VERBATIM)
  list(APPEND manuals ${CMAKE_BINARY_DIR}/${page}.txt)
endforeach()
add_custom_target(marlune_manuals ALL DEPENDS ${manuals})
install(FILES ${manuals} DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME marluneTranslate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
