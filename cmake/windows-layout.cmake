# The program on Windows: one folder holding kelvane.exe, the Qt DLLs with the
# two plugins it loads (the windows platform and the windowsvista style), the
# mingw runtime DLLs and help\Kelvane.chm. The build tree gets the same
# layout beside each program, so the programs run there as installed.
# Qt is used as DLLs (LGPL): a user can replace them in that folder.
get_target_property(kelvane_qt_type Qt6::Core TYPE)
if(NOT kelvane_qt_type STREQUAL "SHARED_LIBRARY")
  message(FATAL_ERROR "The Windows build expects Qt as DLLs (scripts/build-qt-windows)")
endif()

set(KELVANE_WINDOWS_RUNTIME)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
    message(FATAL_ERROR "${dll} of the mingw-w64 runtime was not found")
  endif()
  list(APPEND KELVANE_WINDOWS_RUNTIME ${found})
endforeach()
set(kelvane_qt_dlls
  $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets> $<TARGET_FILE:Qt6::Network>)
set(kelvane_qt_platform $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>)
set(kelvane_qt_style $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>)

# Copies what a program needs beside it in the build tree.
function(kelvane_windows_deploy target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KELVANE_WINDOWS_RUNTIME} ${kelvane_qt_dlls} $<TARGET_FILE_DIR:${target}>
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/platforms $<TARGET_FILE_DIR:${target}>/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${kelvane_qt_platform} $<TARGET_FILE_DIR:${target}>/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${kelvane_qt_style} $<TARGET_FILE_DIR:${target}>/styles
    VERBATIM)
endfunction()
kelvane_windows_deploy(kelvane)

# The installed folder (the installer's contents): paths relative to it.
install(TARGETS kelvane RUNTIME DESTINATION .)
install(FILES ${KELVANE_WINDOWS_RUNTIME} ${kelvane_qt_dlls} DESTINATION .)
install(FILES ${kelvane_qt_platform} DESTINATION platforms)
install(FILES ${kelvane_qt_style} DESTINATION styles)
if(TARGET kelvane_help)
  install(FILES ${KELVANE_CHM} DESTINATION help)
endif()
install(FILES README.md LICENSE DESTINATION .)
