# Resources appended to built programs (the table is described in docs/resource-table.md).

# Gives target the 8-byte SETUP_ARCHIVE placeholder (id 131, English (United States)) after
# every link. A program that carries only the placeholder opens its window; `aze sfx` adds
# the archive as the neutral entry beside it. Stripping the program removes the table.
function(winqor_add_placeholder target)
  add_dependencies(${target} addres)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND addres $<TARGET_FILE:${target}> SETUP_ARCHIVE 131 1033 5AA5A55A5AA5A55A
    COMMENT "Adding the SETUP_ARCHIVE placeholder to ${target}"
    VERBATIM)
endfunction()
