# winqor.exe, the Windows program that `aze sfx --windows` copies, cross-built with mingw-w64
# beside the Linux programs when WINQOR_WINDOWS is on. It is a build of this same source tree
# (a project of its own, in BUILD/windows, whose tests run under Wine: ctest there, with this
# build's aze writing their archives), copied to
# BUILD/lib/winqor/winqor.exe, where the build's bin/aze looks for it, and installed to
# PREFIX/lib/winqor/winqor.exe, where an installed aze looks.
option(WINQOR_WINDOWS "Also cross-build winqor.exe with mingw-w64 for aze sfx --windows" OFF)
if(NOT WINQOR_WINDOWS)
  return()
endif()
set(WINQOR_BZIP2_SOURCE "" CACHE PATH "Debian's bzip2 source, unpacked (fetch-bzip2-source.sh)")
if(NOT EXISTS "${WINQOR_BZIP2_SOURCE}/bzlib.c")
  message(FATAL_ERROR "WINQOR_WINDOWS needs WINQOR_BZIP2_SOURCE: the unpacked bzip2 source "
                      "(scripts/fetch-bzip2-source.sh DEST fetches it into DEST/bzip2)")
endif()

include(ExternalProject)
set(windows_dir ${CMAKE_BINARY_DIR}/windows)
set(windows_program ${windows_dir}/bin/winqor.exe)
set(stub_copy ${CMAKE_BINARY_DIR}/lib/winqor/winqor.exe)
ExternalProject_Add(winqor_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${windows_dir}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-w64.cmake
             -DCMAKE_BUILD_TYPE=Release
             -DWINQOR_BZIP2_SOURCE=${WINQOR_BZIP2_SOURCE}
             -DWINQOR_BUILD_TESTS=${WINQOR_BUILD_TESTS}
             -DWINQOR_WARNINGS_AS_ERRORS=${WINQOR_WARNINGS_AS_ERRORS}
             -DWINQOR_TEST_SEAMS=${WINQOR_TEST_SEAMS}
             -DWINQOR_LINUX_AZE=$<TARGET_FILE:aze>
  # The Windows tests make their archives with this build's aze.
  DEPENDS aze
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy ${windows_program} ${stub_copy}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${windows_program} ${stub_copy})
install(PROGRAMS ${stub_copy} DESTINATION lib/winqor)
