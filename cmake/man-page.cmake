# Manual pages made from a program's own --help and --version (help2man), so
# the page and the program never tell different stories. Without help2man
# (scripts/install-deps package) the pages are left out.
include_guard(GLOBAL)
include(GNUInstallDirs)
find_program(KELVANE_HELP2MAN help2man)
if(NOT KELVANE_HELP2MAN)
  message(STATUS "help2man not found (scripts/install-deps package): no manual pages")
endif()

# kelvane_man_page(TARGET "one line for the NAME section")
function(kelvane_man_page target summary)
  if(NOT KELVANE_HELP2MAN OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(page ${PROJECT_BINARY_DIR}/man/${target}.1)
  # gzip -9n: no name or time stamp in the archive, as Debian asks.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${KELVANE_HELP2MAN} --no-info --section=1 --name=${summary} --version-string=${PROJECT_VERSION}
            --output=${page} $<TARGET_FILE:${target}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${target}
    COMMENT "Manual page ${target}.1"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
