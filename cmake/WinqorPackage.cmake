# What a Linux desktop needs beside the two programs (their install rules are in app/ and
# tools/aze/), and the Debian package of it all: `cpack -G DEB` in the build folder.
include(GNUInstallDirs)

set(WINQOR_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

# The .aze type and its icon serve aze as much as winqor.
install(FILES ${WINQOR_DATA_DIR}/mime/winqor.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(DIRECTORY ${WINQOR_DATA_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
        FILES_MATCHING PATTERN "application-x-aze.png")
install(FILES ${WINQOR_DATA_DIR}/completion/aze
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/aze.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(WINQOR_BUILD_GUI)
  # The desktop entry's name is the software centre's id of winqor (the metainfo's).
  install(FILES ${WINQOR_DATA_DIR}/desktop/org.winqor.winqor.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${WINQOR_DATA_DIR}/metainfo/org.winqor.winqor.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${WINQOR_DATA_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
          FILES_MATCHING PATTERN "winqor.png")
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/winqor.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # winqor's debug information (the build moves it to bin/winqor.debug) stays out of the
  # package and of a plain install: `cmake --install BUILD --component debug` puts it in
  # bin/.debug/, where a debugger looks for the file that winqor's .gnu_debuglink names.
  install(FILES $<TARGET_FILE:winqor>.debug DESTINATION ${CMAKE_INSTALL_BINDIR}/.debug
          COMPONENT debug EXCLUDE_FROM_ALL)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME winqor)
set(CPACK_PACKAGE_VENDOR "winqor developers")
set(CPACK_PACKAGE_CONTACT "winqor developers <winqor@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extractor and writer of .aze archives")
set(CPACK_PACKAGE_DESCRIPTION
    "winqor unpacks .aze archives (bzip2-compressed, optionally DES-encrypted) in a small GTK
window, or as a self-extracting program that carries its archive. aze, its command-line
companion, writes archives, lists, tests and extracts them, and makes self-extracting
programs.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends is computed from the programs' shared libraries (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Never strip: winqor ends with an appended resource table (its placeholder, beside which
# aze sfx puts the archive), and strip would drop the table. The build has already stripped
# winqor, before adding the table; aze keeps its symbols, which cost no self-extracting program
# anything.
set(CPACK_STRIP_FILES OFF)
include(CPack)
