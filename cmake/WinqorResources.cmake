# Resources appended to built programs (the table is described in docs/resource-table.md).

# Gives target the 8-byte SETUP_ARCHIVE placeholder (id 131, English (United States)) after
# every link. A program that carries only the placeholder opens its window; `aze sfx` adds
# the archive as the neutral entry beside it. Stripping the program removes the table.
#
# With STRIPPED, the program is first stripped of its debug information and symbol table,
# which go to <program>.debug beside it, named in the program's .gnu_debuglink so that a
# debugger still finds them: aze sfx copies the program into every self-extracting program it
# makes, and debug information there would weigh more than the program itself. Stripping
# comes first because it drops whatever follows the ELF sections, the table included.
function(winqor_add_placeholder target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "STRIPPED" "" "")
  add_dependencies(${target} addres)
  set(program $<TARGET_FILE:${target}>)
  if(arg_STRIPPED)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${program} ${program}.debug
      COMMAND ${CMAKE_STRIP} --strip-all ${program}
      COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${program}.debug ${program}
      COMMENT "Moving the debug information of ${target} to a .debug file beside it"
      VERBATIM)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND addres ${program} SETUP_ARCHIVE 131 1033 5AA5A55A5AA5A55A
    COMMENT "Adding the SETUP_ARCHIVE placeholder to ${target}"
    VERBATIM)
endfunction()
