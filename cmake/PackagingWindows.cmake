# The Windows package: a ZIP (cpack -G ZIP in the build directory) holding the two programs, a
# README for Windows users, the two manuals as plain text, the sample configurations, the
# scenario and the integration test for cmd. The programs find "logs" beside themselves. Every
# text file in it has Windows line ends (CR LF).
install(TARGETS marluneTranslate marluneEmulator RUNTIME DESTINATION .)

set(MARLUNE_ZIP_TEXT_DIR ${CMAKE_BINARY_DIR}/zip-text)
file(MAKE_DIRECTORY ${MARLUNE_ZIP_TEXT_DIR}/examples)
set(MARLUNE_ZIP_TEXTS)

# Adds `output` (a path in the ZIP) made by the shell command `command`, which writes its text
# to standard output with Unix line ends, from `source`.
function(marlune_zip_text output source command)
  set(made ${MARLUNE_ZIP_TEXT_DIR}/${output})
  add_custom_command(OUTPUT ${made}
                     COMMAND sh -c "${command} | sed -e 's/$/\\r/' > \"$0\"" ${made}
                     DEPENDS ${source} VERBATIM)
  set(MARLUNE_ZIP_TEXTS ${MARLUNE_ZIP_TEXTS} ${made} PARENT_SCOPE)
  get_filename_component(folder ${output} DIRECTORY)
  install(FILES ${made} DESTINATION ./${folder})
endfunction()

marlune_zip_text(README.txt ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt
                 "cat ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt")
# The manual pages as text, made with the build host's groff: no bold or underline, and the
# overstruck bullets ("+", backspace, "o") taken down to their last character.
find_program(GROFF_EXECUTABLE groff REQUIRED)
foreach(page marluneTranslate marluneEmulator)
  set(source ${CMAKE_SOURCE_DIR}/man/${page}.1)
  marlune_zip_text(${page}.txt ${source}
                   "${GROFF_EXECUTABLE} -man -Tascii -P-cbu ${source} | sed -e 's/.\\x08//g'")
endforeach()
# The examples but the bash integration test, which integration-test.cmd stands for here.
file(GLOB examples RELATIVE ${CMAKE_SOURCE_DIR}/examples ${CMAKE_SOURCE_DIR}/examples/*.json
     ${CMAKE_SOURCE_DIR}/examples/*.cmd)
foreach(example ${examples})
  set(source ${CMAKE_SOURCE_DIR}/examples/${example})
  marlune_zip_text(examples/${example} ${source} "cat ${source}")
endforeach()
add_custom_target(marlune_zip_texts ALL DEPENDS ${MARLUNE_ZIP_TEXTS})

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME marluneTranslate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
