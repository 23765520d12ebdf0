# The renderer of the hicolor PNG icons (needs Qt's SVG module).
if(QRV_WITH_QT)
  add_executable(qrv-render-icon "${CMAKE_CURRENT_LIST_DIR}/RenderIcon.cpp")
  qrv_configure_qt(qrv-render-icon)
  target_link_libraries(qrv-render-icon PRIVATE Qt6::Gui Qt6::Svg)
endif()
