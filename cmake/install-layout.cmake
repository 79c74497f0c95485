# The installed program: binary, compiled help, desktop entry, AppStream
# metadata, icons, the udev rule and the documents. Paths are relative to the
# prefix, so /usr, /usr/local and DESTDIR all work; udev reads rules from both
# /usr/lib/udev/rules.d and /usr/local/lib/udev/rules.d.
include(GNUInstallDirs)

set(KELVANE_APP_ID com.lumetra.Kelvane)
set(KELVANE_MAINTAINER "Kelvane developers <kelvane@lumetra.invalid>")
set(KELVANE_DATA_SUBDIR ${CMAKE_INSTALL_DATADIR}/kelvane)

find_program(KELVANE_RSVG_CONVERT rsvg-convert)
if(NOT KELVANE_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert (Debian package librsvg2-bin) is needed for the icons; run scripts/install-deps")
endif()
set(icon_svg ${PROJECT_SOURCE_DIR}/data/icons/${KELVANE_APP_ID}.svg)
set(icon_pngs)
foreach(size 48 128)
  set(png ${PROJECT_BINARY_DIR}/icons/${size}x${size}/${KELVANE_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/icons/${size}x${size}
    COMMAND ${KELVANE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${icon_svg}
    DEPENDS ${icon_svg} VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(kelvane_icons ALL DEPENDS ${icon_pngs})

configure_file(data/${KELVANE_APP_ID}.metainfo.xml.in ${PROJECT_BINARY_DIR}/data/${KELVANE_APP_ID}.metainfo.xml @ONLY)

install(TARGETS kelvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KELVANE_CHM} DESTINATION ${KELVANE_DATA_SUBDIR}/help)
install(FILES data/${KELVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/data/${KELVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES data/70-kelvane.rules DESTINATION lib/udev/rules.d)
# The licence once, under the name Debian looks for; the changelog compressed
# as Debian keeps it.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvane)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvane RENAME copyright)
configure_file(data/deb/changelog.in ${PROJECT_BINARY_DIR}/data/changelog @ONLY)
set(KELVANE_CHANGELOG ${PROJECT_BINARY_DIR}/data/changelog.gz)
add_custom_command(OUTPUT ${KELVANE_CHANGELOG}
  COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/data/changelog > ${KELVANE_CHANGELOG}
  DEPENDS ${PROJECT_BINARY_DIR}/data/changelog)
add_custom_target(kelvane_changelog ALL DEPENDS ${KELVANE_CHANGELOG})
install(FILES ${KELVANE_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvane)

include(cmake/man-page.cmake)
kelvane_man_page(kelvane "flat-field light panel dimmer control")

include(cmake/package.cmake)
