# What a desktop installation carries besides the program: the desktop entry, the icons in
# every hicolor size, the AppStream metainfo, the manual page and the package documents.
include(GNUInstallDirs)
set(_qrv_desktop_src "${CMAKE_CURRENT_LIST_DIR}/desktop")
set(_qrv_desktop_out "${CMAKE_CURRENT_BINARY_DIR}/desktop")

configure_file("${_qrv_desktop_src}/quorvane.desktop.in"
  "${_qrv_desktop_out}/${QRV_APP_ID}.desktop" @ONLY)
configure_file("${_qrv_desktop_src}/quorvane.metainfo.xml.in"
  "${_qrv_desktop_out}/${QRV_APP_ID}.metainfo.xml" @ONLY)
configure_file("${_qrv_desktop_src}/quorvane.1.in" "${_qrv_desktop_out}/quorvane.1" @ONLY)
configure_file("${_qrv_desktop_src}/changelog.in" "${_qrv_desktop_out}/changelog" @ONLY)

# gzip -n: no name or time stamp inside, so that the same sources give the same package.
find_program(QRV_GZIP gzip REQUIRED)
set(_qrv_gzipped)
foreach(_doc quorvane.1 changelog)
  add_custom_command(OUTPUT "${_qrv_desktop_out}/${_doc}.gz"
    COMMAND "${QRV_GZIP}" -9nkf "${_qrv_desktop_out}/${_doc}"
    DEPENDS "${_qrv_desktop_out}/${_doc}"
    COMMENT "Compressing ${_doc}" VERBATIM)
  list(APPEND _qrv_gzipped "${_qrv_desktop_out}/${_doc}.gz")
endforeach()
add_custom_target(qrv_documents ALL DEPENDS ${_qrv_gzipped})

install(FILES "${_qrv_desktop_out}/${QRV_APP_ID}.desktop"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_qrv_desktop_out}/${QRV_APP_ID}.metainfo.xml"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${_qrv_desktop_out}/quorvane.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${_qrv_desktop_src}/copyright" "${_qrv_desktop_out}/changelog.gz"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/quorvane")

set(_qrv_icon_svg "${CMAKE_CURRENT_LIST_DIR}/pictures/quorvane.svg")
install(FILES "${_qrv_icon_svg}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
  RENAME "${QRV_APP_ID}.svg")
if(QRV_WITH_QT)
  set(_qrv_icon_sizes 16 22 24 32 48 64 128 256)
  set(_qrv_icon_pngs)
  foreach(_size ${_qrv_icon_sizes})
    list(APPEND _qrv_icon_pngs "${_qrv_desktop_out}/icons/${_size}x${_size}/apps/${QRV_APP_ID}.png")
  endforeach()
  add_custom_command(OUTPUT ${_qrv_icon_pngs}
    COMMAND qrv-render-icon "${_qrv_icon_svg}" "${_qrv_desktop_out}/icons" "${QRV_APP_ID}"
            ${_qrv_icon_sizes}
    DEPENDS "${_qrv_icon_svg}" qrv-render-icon
    COMMENT "Rendering the icon in ${_qrv_icon_sizes} pixels" VERBATIM)
  add_custom_target(qrv_icons ALL DEPENDS ${_qrv_icon_pngs})
  install(DIRECTORY "${_qrv_desktop_out}/icons/" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor")
endif()
