# Man pages and bash completions for the tools.
#
# The man pages are made from each tool's --help and --version by help2man at
# build time, so they never drift from the program. Without help2man the
# build goes on without them (the install test then fails and says why).
find_program(DRAV_HELP2MAN help2man)
if(NOT DRAV_HELP2MAN)
  message(WARNING "help2man not found: no man pages (apt-get install help2man)")
endif()
set(DRAV_MAN_DIR ${CMAKE_BINARY_DIR}/man/man1)

# The demo's command and data, installed so that the man pages' examples
# name files every installation has.
set(DRAV_EXAMPLES_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/dravstream/examples)
install(FILES ${CMAKE_SOURCE_DIR}/examples/weather.cmd ${CMAKE_SOURCE_DIR}/examples/weather.csv
        DESTINATION ${DRAV_EXAMPLES_INSTALL_DIR} COMPONENT tools)
# In roff a plain "-" prints as a hyphen, which a shell does not take.
string(REPLACE "-" "\\-" DRAV_EXAMPLES_ROFF_DIR "${CMAKE_INSTALL_FULL_DATADIR}/dravstream/examples")

# drav_install_tool_docs(TOOL SUMMARY): TOOL.1 from the TOOL target's --help,
# with the EXAMPLES section of cmake/TOOL.h2m.in (help2man would run the
# help's examples together into one paragraph), and tools/TOOL/completion.bash
# as TOOL's bash completion.
function(drav_install_tool_docs tool summary)
  if(DRAV_HELP2MAN)
    # Compressed, as Debian installs man pages; man reads them as they are.
    set(page ${DRAV_MAN_DIR}/${tool}.1.gz)
    set(include ${CMAKE_BINARY_DIR}/man/${tool}.h2m)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/${tool}.h2m.in ${include} @ONLY)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${DRAV_MAN_DIR}
      COMMAND ${DRAV_HELP2MAN} --no-info --section=1 --name=${summary} --include=${include}
              --output=${DRAV_MAN_DIR}/${tool}.1 $<TARGET_FILE:${tool}>
      COMMAND gzip -9nf ${DRAV_MAN_DIR}/${tool}.1
      DEPENDS ${tool} ${include}
      COMMENT "Man page ${tool}.1"
      VERBATIM)
    add_custom_target(${tool}_man ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  endif()
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/completion.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ${tool} COMPONENT tools)
endfunction()
