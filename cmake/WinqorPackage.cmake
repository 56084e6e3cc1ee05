# What a Linux desktop needs beside the two programs (their install rules are in app/ and
# tools/aze/), and the Debian package of it all: `cpack -G DEB` in the build folder.
include(GNUInstallDirs)

set(WINQOR_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

# Manual pages and the changelog are installed compressed, as Debian ships them: gzip at the
# highest level, without the file's name and time (-n), so that the same sources give the same
# bytes.
find_program(GZIP gzip REQUIRED)
set(WINQOR_GZIP_DIR ${CMAKE_BINARY_DIR}/gzipped)
function(winqor_gzipped source output)
  add_custom_command(OUTPUT ${WINQOR_GZIP_DIR}/${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${WINQOR_GZIP_DIR}
    COMMAND sh -c "\"$1\" -9 -n -c \"$2\" > \"$3\"" gzip ${GZIP} ${source}
            ${WINQOR_GZIP_DIR}/${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}"
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY WINQOR_GZIPPED ${WINQOR_GZIP_DIR}/${output})
endfunction()
winqor_gzipped(${PROJECT_SOURCE_DIR}/docs/man/aze.1 aze.1.gz)
winqor_gzipped(${PROJECT_SOURCE_DIR}/docs/man/winqor.1 winqor.1.gz)
winqor_gzipped(${PROJECT_SOURCE_DIR}/debian/changelog changelog.gz)
get_property(gzipped GLOBAL PROPERTY WINQOR_GZIPPED)
add_custom_target(gzipped_docs ALL DEPENDS ${gzipped})

# The licence (the machine-readable copyright file that the Debian packages carry too) and the
# changelog, where Debian looks for them: share/doc/winqor/.
install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright ${WINQOR_GZIP_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The .aze type and its icon serve aze as much as winqor.
install(FILES ${WINQOR_DATA_DIR}/mime/winqor.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(DIRECTORY ${WINQOR_DATA_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
        FILES_MATCHING PATTERN "application-x-aze.png")
install(FILES ${WINQOR_DATA_DIR}/completion/aze
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${WINQOR_GZIP_DIR}/aze.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(WINQOR_BUILD_GUI)
  # The desktop entry's name is the software centre's id of winqor (the metainfo's).
  install(FILES ${WINQOR_DATA_DIR}/desktop/org.winqor.winqor.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${WINQOR_DATA_DIR}/metainfo/org.winqor.winqor.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${WINQOR_DATA_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
          FILES_MATCHING PATTERN "winqor.png")
  install(FILES ${WINQOR_GZIP_DIR}/winqor.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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
# Debian shows the description as it is: lines of at most 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "winqor unpacks .aze archives (bzip2-compressed, optionally DES-encrypted) in
a small GTK window, or as a self-extracting program that carries its archive.
aze, its command-line companion, writes archives, lists, tests and extracts
them, and makes self-extracting programs.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends is computed from the programs' shared libraries (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# This one package holds what the Debian source package (debian/) splits into aze and winqor.
set(CPACK_DEBIAN_PACKAGE_PROVIDES aze)
set(CPACK_DEBIAN_PACKAGE_CONFLICTS aze)
set(CPACK_DEBIAN_PACKAGE_REPLACES aze)
# Strips what install(TARGETS) installs, aze, whose debug information is left out. winqor is
# installed as a plain program and so left as built: it ends with an appended resource table
# (its placeholder, beside which aze sfx puts the archive), which strip would drop; the build
# has already stripped it, before adding the table.
set(CPACK_STRIP_FILES ON)
# A build with the test probes is never packaged: cpack reads this file first and stops there.
if(WINQOR_TEST_SEAMS)
  set(WINQOR_REFUSE_PACKAGE ${CMAKE_BINARY_DIR}/refuse-package.cmake)
  file(WRITE ${WINQOR_REFUSE_PACKAGE}
       "message(FATAL_ERROR \"this build carries the test probes (WINQOR_TEST_SEAMS=ON): \"\n"
       "  \"configure with -DWINQOR_TEST_SEAMS=OFF to package it\")\n")
  set(CPACK_PROJECT_CONFIG_FILE ${WINQOR_REFUSE_PACKAGE})
endif()
include(CPack)
