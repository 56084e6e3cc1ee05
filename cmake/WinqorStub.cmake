# The stub, winqor, is copied into every self-extracting program, so it is built for size:
# its own copies of the libraries it links, compiled with -Os, each function and object in a
# section of its own so that the linker drops what the stub never calls (the archive writer's
# resource editing, ...), hidden visibility, and link-time optimisation
# across them. aze and the tests link the libraries as they are, built for speed.
#
# The decoder's own loops stay at the speed of the build (-O2): the block search and the bit
# copies run over every byte of the payload, and they are a few kilobytes.
#
# On Windows, visibility means nothing to a PE program, and three things differ:
# - mingw-w64 puts every writable variable that has a section of its own into .data, zero-filled
#   or not, so -fdata-sections would store the zeros of every table (the block search's 128 kB)
#   in the file instead of leaving them to .bss;
# - its linker keeps every function that has unwind information (.pdata is always kept), so
#   collecting sections drops next to nothing: link-time optimisation is what removes the
#   functions the stub never calls;
# - mingw-w64's GCC 12 stops with an internal error (in binds_to_current_def_p) when it splits
#   the link-time optimisation into partitions; one partition builds, and at this size the link
#   is no slower for it.
set(WINQOR_STUB_COMPILE_OPTIONS -Os -ffunction-sections)
set(WINQOR_STUB_LINK_OPTIONS -Wl,--gc-sections)
include(CheckIPOSupported)
check_ipo_supported(RESULT WINQOR_STUB_LTO OUTPUT lto_output LANGUAGES C CXX)
if(WIN32)
  list(APPEND WINQOR_STUB_LINK_OPTIONS -flto-partition=one)
  # The standard library's default end for an uncaught exception names the exception's type,
  # which links its symbol demangler (45 kB, and mingw-w64's printf with it) into the program.
  # The program throws nothing itself; what the library might throw (memory exhausted) still
  # ends it the same way, through abort(), only without the line naming the type, on a
  # standard error that a windowed program does not show.
  list(APPEND WINQOR_STUB_LINK_OPTIONS
       -Wl,--defsym,_ZN9__gnu_cxx27__verbose_terminate_handlerEv=abort)
else()
  # GCC's -Oz weighs every choice by size alone (no alignment padding, the shortest
  # instructions); it takes about 1.5 kB off the Linux stub.
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-Oz WINQOR_HAS_OZ)
  if(WINQOR_HAS_OZ)
    list(TRANSFORM WINQOR_STUB_COMPILE_OPTIONS REPLACE "^-Os$" "-Oz")
  endif()
  list(APPEND WINQOR_STUB_COMPILE_OPTIONS -fdata-sections -fvisibility=hidden
       $<$<COMPILE_LANGUAGE:CXX>:-fvisibility-inlines-hidden>)
  # Only what the program needs, and only the libraries it calls.
  list(APPEND WINQOR_STUB_LINK_OPTIONS -Wl,--as-needed -Wl,-O1)
endif()

# A coverage build counts the stub's copies of the sources as written: -Os, -O2 and link-time
# optimisation would give code to lines that hold a declaration alone, which the libraries'
# own copies (-O0) say hold none, and the two copies' counts are summed line by line.
if(WINQOR_COVERAGE)
  list(REMOVE_ITEM WINQOR_STUB_COMPILE_OPTIONS -Os -Oz)
  set(WINQOR_STUB_LTO OFF)
endif()

# Sources of a library that keep the build's own optimisation in the stub.
set(WINQOR_STUB_FAST_SOURCES ${PROJECT_SOURCE_DIR}/engine/bzip2_blocks.cpp
    ${PROJECT_SOURCE_DIR}/engine/bzip2_parallel.cpp ${PROJECT_SOURCE_DIR}/format/bzip2_bits.cpp)

# Makes LIB_stub: LIB's sources, include folders, definitions and options, built for size,
# linking the stub copies of the libraries LIB links (made first), and the rest as LIB does.
function(winqor_stub_library lib)
  get_target_property(sources ${lib} SOURCES)
  get_target_property(source_dir ${lib} SOURCE_DIR)
  list(TRANSFORM sources PREPEND ${source_dir}/ REGEX "^[^/]")
  add_library(${lib}_stub STATIC ${sources})
  # A generated source (the window's resource bundle) is made by the library's own target.
  set(generated ${sources})
  list(FILTER generated INCLUDE REGEX "^${CMAKE_BINARY_DIR}/")
  if(generated)
    add_dependencies(${lib}_stub ${lib})
  endif()
  foreach(property INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS
                   INTERFACE_INCLUDE_DIRECTORIES INTERFACE_COMPILE_DEFINITIONS)
    get_target_property(value ${lib} ${property})
    if(value)
      set_property(TARGET ${lib}_stub PROPERTY ${property} "${value}")
    endif()
  endforeach()
  target_compile_options(${lib}_stub PRIVATE ${WINQOR_STUB_COMPILE_OPTIONS})
  get_target_property(links ${lib} LINK_LIBRARIES)
  if(NOT links)
    set(links)
  endif()
  set(stub_links)
  foreach(link IN LISTS links)
    if(TARGET ${link}_stub)
      list(APPEND stub_links ${link}_stub)
    else()
      list(APPEND stub_links ${link})
    endif()
  endforeach()
  target_link_libraries(${lib}_stub PUBLIC ${stub_links})
  if(WINQOR_STUB_LTO)
    set_property(TARGET ${lib}_stub PROPERTY INTERPROCEDURAL_OPTIMIZATION TRUE)
  endif()
endfunction()

# The libraries in the order they depend on one another, then the settings of the program.
function(winqor_build_stub_for_size program)
  foreach(lib IN LISTS ARGN)
    winqor_stub_library(${lib})
  endforeach()
  if(NOT WINQOR_COVERAGE)
    set_source_files_properties(${WINQOR_STUB_FAST_SOURCES} PROPERTIES COMPILE_OPTIONS -O2)
  endif()
  target_compile_options(${program} PRIVATE ${WINQOR_STUB_COMPILE_OPTIONS})
  target_link_options(${program} PRIVATE ${WINQOR_STUB_LINK_OPTIONS})
  if(WINQOR_STUB_LTO)
    set_property(TARGET ${program} PROPERTY INTERPROCEDURAL_OPTIMIZATION TRUE)
  endif()
endfunction()
