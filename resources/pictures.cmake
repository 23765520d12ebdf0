# The program's pictures, compiled in as Qt resources under ":/pictures" (target qrv_pictures,
# header resources/Pictures.h), plus the desktop entry and icon that are installed with it.
if(QRV_WITH_QT)
  add_library(qrv_pictures STATIC "${CMAKE_CURRENT_LIST_DIR}/Pictures.cpp")
  target_include_directories(qrv_pictures PUBLIC "${PROJECT_SOURCE_DIR}")
  qrv_configure_qt(qrv_pictures)
  target_link_libraries(qrv_pictures PUBLIC Qt6::Gui Qt6::Svg)
  file(GLOB _qrv_pictures RELATIVE "${CMAKE_CURRENT_LIST_DIR}" CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_LIST_DIR}/pictures/*.svg")
  qt_add_resources(qrv_pictures qrv_pictures
    PREFIX "/pictures"
    BASE "${CMAKE_CURRENT_LIST_DIR}/pictures"
    FILES ${_qrv_pictures})
endif()

include(GNUInstallDirs)
set(QRV_DESKTOP_FILE "${CMAKE_CURRENT_LIST_DIR}/quorvane.desktop" CACHE INTERNAL "")
set(QRV_ICON_FILE "${CMAKE_CURRENT_LIST_DIR}/pictures/quorvane.svg" CACHE INTERNAL "")
install(FILES "${QRV_DESKTOP_FILE}" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${QRV_ICON_FILE}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
