# The program's pictures, compiled in as Qt resources under ":/pictures" (target qrv_pictures,
# header resources/Pictures.h).
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
