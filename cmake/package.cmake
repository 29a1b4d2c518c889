# The Debian package, made by scripts/package with CPack from the win64
# build: the launcher and the programs it runs under lib/trun95 (laid out as
# the launcher expects beside itself), trun95 on PATH, the manual page and
# the bash completion made from the launcher's usage texts, the documents.
# Installed, the launcher never builds and keeps its prefix and work in the
# user's XDG folders.
set(TRUN95_PACKAGE_RELEASE 1)
set(TRUN95_LIB lib/trun95)
set(TRUN95_DOC share/doc/trun95)
# The shipping 32-bit build comes from the win32 build beside this one.
set(TRUN95_WIN32_BIN ${CMAKE_SOURCE_DIR}/build/win32/bin
    CACHE PATH "Where the win32 build put the shipping TRUN95.dll, for the package")

# The package's version, which the installed launcher's --version shows;
# its presence tells the launcher that it runs installed.
file(WRITE ${CMAKE_BINARY_DIR}/package/package-version
     "${PROJECT_VERSION}-${TRUN95_PACKAGE_RELEASE}\n")
file(CREATE_LINK ../${TRUN95_LIB}/trun95 ${CMAKE_BINARY_DIR}/package/trun95 SYMBOLIC)

set(TRUN95_USAGE ${CMAKE_SOURCE_DIR}/scripts/usage.py)
set(TRUN95_LAUNCHER_SCRIPTS
    ${CMAKE_SOURCE_DIR}/scripts/launcher.py ${CMAKE_SOURCE_DIR}/scripts/check.py
    ${CMAKE_SOURCE_DIR}/scripts/check_formats.py ${CMAKE_SOURCE_DIR}/scripts/trun95lib.py
    ${TRUN95_USAGE})
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/package/trun95.1.gz ${CMAKE_BINARY_DIR}/package/trun95.bash
    COMMAND python3 ${TRUN95_USAGE} man ${CMAKE_BINARY_DIR}/package/trun95.1
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/package/trun95.1
    COMMAND python3 ${TRUN95_USAGE} completion ${CMAKE_BINARY_DIR}/package/trun95.bash
    DEPENDS ${TRUN95_LAUNCHER_SCRIPTS} ${CMAKE_SOURCE_DIR}/VERSION
    COMMENT "Making the manual page and the bash completion from the usage texts")
add_custom_target(usage_pages ALL DEPENDS ${CMAKE_BINARY_DIR}/package/trun95.1.gz
                                          ${CMAKE_BINARY_DIR}/package/trun95.bash)

install(PROGRAMS ${CMAKE_SOURCE_DIR}/trun95 DESTINATION ${TRUN95_LIB})
install(FILES ${CMAKE_BINARY_DIR}/package/trun95 DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/VERSION ${CMAKE_BINARY_DIR}/package/package-version
        DESTINATION ${TRUN95_LIB})
install(FILES ${TRUN95_LAUNCHER_SCRIPTS} DESTINATION ${TRUN95_LIB}/scripts)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/wine-env ${CMAKE_SOURCE_DIR}/scripts/wine-prefix
        DESTINATION ${TRUN95_LIB}/scripts)
install(FILES $<TARGET_FILE:tarnel32> $<TARGET_FILE:TRUN95> $<TARGET_FILE:trun95check>
              $<TARGET_FILE:tr95> ${CMAKE_BINARY_DIR}/bin/acme-setup.exe
        DESTINATION ${TRUN95_LIB}/bin)
# The shipping 32-bit build's host set, which runs 32-bit setups where Wine
# runs 32-bit programs.
install(FILES ${TRUN95_WIN32_BIN}/tarnel32.exe ${TRUN95_WIN32_BIN}/TRUN95.dll
              ${TRUN95_WIN32_BIN}/trun95check.dll ${TRUN95_WIN32_BIN}/tr95.vxd
        DESTINATION ${TRUN95_LIB}/win32)
install(FILES ${CMAKE_BINARY_DIR}/package/trun95.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_BINARY_DIR}/package/trun95.bash
        DESTINATION share/bash-completion/completions RENAME trun95)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/check.md
              ${CMAKE_SOURCE_DIR}/docs/host.md ${CMAKE_SOURCE_DIR}/docs/install-log.md
              ${CMAKE_SOURCE_DIR}/docs/check.schema.json ${CMAKE_SOURCE_DIR}/docs/junit.xsd
        DESTINATION ${TRUN95_DOC})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/img DESTINATION ${TRUN95_DOC})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trun95)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TRUN95_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Tarnel <trun95-beta@tarnel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "install-monitoring uninstaller for Windows setup programs under Wine")
set(CPACK_PACKAGE_DESCRIPTION
    "TRUN95 watches a Windows setup program under Wine (a Windows 95 prefix): it snapshots \
the registry and the Windows folders, monitors the file system, and afterwards offers to \
undo what setup did. trun95 check tells whether a program's own uninstaller cleans up, \
with results as JSON, JUnit XML or an HTML page.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# What the launcher runs: 64-bit Wine, a private X display, Python.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "wine64, xvfb, python3 (>= 3.9)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_SOURCE_DIR}/build/package)
include(CPack)
