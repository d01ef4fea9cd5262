# Manual pages of the three programs, made from their --help texts at every
# build, so that they cannot drift from what the programs say.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(STATUS "help2man missing: no manual pages (scripts/deps.sh installs it)")
  return()
endif()

set(palisim_man_dir ${CMAKE_BINARY_DIR}/man)
set(palisim_man_pages)
# palisim_man_page(PROGRAM TARGET "what it is, for the NAME section")
function(palisim_man_page program target description)
  set(page ${palisim_man_dir}/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${palisim_man_dir}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
            --name=${description} --output=${page} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Manual page of ${program}"
    VERBATIM)
  set(palisim_man_pages ${palisim_man_pages} ${page} PARENT_SCOPE)
endfunction()

palisim_man_page(Palisim002 ${PALISIM_HEADLESS_TARGET}
                 "payment HSM simulator speaking the Atalla host-command protocol")
palisim_man_page(palisim-cli palisim-cli "client of the Atalla host-command protocol and key tool")
palisim_man_page(palisimstress palisimstress "load client of the Atalla host-command protocol")
add_custom_target(man_pages ALL DEPENDS ${palisim_man_pages})
install(FILES ${palisim_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)
