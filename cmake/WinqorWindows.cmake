# What the Windows build needs that Debian has no Windows package of: libbz2, compiled here
# from Debian's source package (scripts/fetch-bzip2-source.sh fetches it into the folder
# WINQOR_BZIP2_SOURCE names). Every program is linked statically, so that it imports only the
# system's own DLLs and runs alone.
set(WINQOR_BZIP2_SOURCE "" CACHE PATH "Debian's bzip2 source, unpacked (fetch-bzip2-source.sh)")
if(NOT EXISTS "${WINQOR_BZIP2_SOURCE}/bzlib.c")
  message(FATAL_ERROR "WINQOR_BZIP2_SOURCE must name the unpacked bzip2 source "
                      "(scripts/fetch-bzip2-source.sh DEST fetches it into DEST/bzip2)")
endif()
set(bzip2_files blocksort.c bzlib.c compress.c crctable.c decompress.c huffman.c randtable.c)
list(TRANSFORM bzip2_files PREPEND ${WINQOR_BZIP2_SOURCE}/)
add_library(bz2 STATIC ${bzip2_files})
# The library's own code, not ours: its warnings are not looked at. Built as Debian builds it
# (-O2; a Release build would give -O3), each function in a section of its own, so that
# winqor.exe, which only decodes, keeps none of the compressor. Its messages (verbose output,
# the assertion's) go through the system's C library rather than mingw-w64's own printf,
# which would add its formatting code to every program for lines that only say numbers.
# Without unwind tables: the linker keeps every function that has an entry in .pdata, so
# sections alone would drop nothing; no exception crosses the library (its allocator
# callbacks catch their own), so nothing ever unwinds through its frames.
target_compile_options(bz2 PRIVATE -w -O2 -ffunction-sections -fno-asynchronous-unwind-tables)
target_compile_definitions(bz2 PRIVATE __USE_MINGW_ANSI_STDIO=0)
target_include_directories(bz2 SYSTEM PUBLIC ${WINQOR_BZIP2_SOURCE})
# bzlib.h includes <windows.h> on Windows; these keep that include small and free of the
# min/max macros. BZ_IMPORT must never be set: the library is linked in, not imported.
target_compile_definitions(bz2 PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)
add_library(BZip2::BZip2 ALIAS bz2)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0602)
enable_language(RC)
add_link_options(-static -static-libgcc -static-libstdc++)
