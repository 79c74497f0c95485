# Compiled help, from the HTML sources in help/, beside the program in the
# build tree (help/Kelvane.chm, where the program looks first), for every
# target system.
#
# The compiler is Free Pascal's CHM writer (the one Debian's chmcmd is built
# from), built here from Debian's fpc-source with one change: the 3.2.2
# writer stores a mapped topic under the absolute path of the project's
# folder on the build machine, so HTML Help on Windows cannot open a topic
# by its number. The copy stores the page as the project names it.
find_program(KELVANE_FPC fpc)
find_file(KELVANE_CHM_WRITER_SOURCE chmfilewriter.pas
  PATHS /usr/share/fpcsrc/3.2.2/packages/chm/src NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if((NOT KELVANE_FPC OR NOT KELVANE_CHM_WRITER_SOURCE) AND CMAKE_HOST_WIN32)
  message(STATUS "Free Pascal's CHM writer not found: the help is not compiled (copy a Kelvane.chm into help\\)")
  return()
elseif(NOT KELVANE_FPC OR NOT KELVANE_CHM_WRITER_SOURCE)
  message(FATAL_ERROR "fpc and Free Pascal's sources (Debian packages fp-compiler-3.2.2, fpc-source-3.2.2) are needed to compile the help; run scripts/install-deps")
endif()

set(chmc_dir ${PROJECT_BINARY_DIR}/chm-compiler)
file(READ ${KELVANE_CHM_WRITER_SOURCE} writer)
set(absolute "Writer.AddContext(nd.ContextNumber,IncludeTrailingPathDelimiter(FBasePath)+files[i]);")
string(FIND "${writer}" "${absolute}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${KELVANE_CHM_WRITER_SOURCE} is not the 3.2.2 writer cmake/help.cmake corrects")
endif()
string(REPLACE "${absolute}" "Writer.AddContext(nd.ContextNumber,files[i]);" writer "${writer}")
file(MAKE_DIRECTORY ${chmc_dir})
file(WRITE ${chmc_dir}/chmfilewriter.pas.new "${writer}")
file(COPY_FILE ${chmc_dir}/chmfilewriter.pas.new ${chmc_dir}/chmfilewriter.pas ONLY_IF_DIFFERENT)
set(KELVANE_CHM_COMPILER ${chmc_dir}/chm_compiler)
add_custom_command(OUTPUT ${KELVANE_CHM_COMPILER}
  COMMAND ${KELVANE_FPC} -O2 -v0 -Fu${chmc_dir} -FU${chmc_dir} -FE${chmc_dir}
          ${PROJECT_SOURCE_DIR}/cmake/chm_compiler.pas
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/chm_compiler.pas ${chmc_dir}/chmfilewriter.pas
  COMMENT "Building the help compiler"
  VERBATIM)

file(GLOB KELVANE_HELP_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/help/*)
set(KELVANE_CHM ${PROJECT_BINARY_DIR}/help/Kelvane.chm)
set(help_work ${PROJECT_BINARY_DIR}/help-build)
# The compiler writes its result beside the project: it works on a fresh
# copy, and a missing result fails the copy.
add_custom_command(OUTPUT ${KELVANE_CHM}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${help_work}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/help ${help_work}
  COMMAND ${CMAKE_COMMAND} -E chdir ${help_work} ${KELVANE_CHM_COMPILER} Kelvane.hhp
  COMMAND ${CMAKE_COMMAND} -E copy ${help_work}/Kelvane.chm ${KELVANE_CHM}
  DEPENDS ${KELVANE_HELP_SOURCES} ${KELVANE_CHM_COMPILER}
  COMMENT "Compiling help/Kelvane.chm"
  VERBATIM)
add_custom_target(kelvane_help ALL DEPENDS ${KELVANE_CHM})
add_dependencies(kelvane kelvane_help)
