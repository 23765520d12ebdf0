# `cpack -G DEB` in a build folder: quorvane_<version>_<arch>.deb, dependencies found from the
# shared libraries (dpkg-shlibdeps) plus Qt's platform plugins, which are loaded at run time.
# The program is stripped when it is linked (release builds), before the catalogues are
# appended; CPack must not strip it again.
find_program(QRV_DPKG dpkg)
set(_qrv_arch amd64)
if(QRV_DPKG)
  execute_process(COMMAND "${QRV_DPKG}" --print-architecture
    OUTPUT_VARIABLE _qrv_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR Ostrelle)
set(CPACK_PACKAGE_CONTACT "Ostrelle <packages@ostrelle.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_FILE_NAME "quorvane_${PROJECT_VERSION}_${_qrv_arch}.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${_qrv_arch}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QRV_VENDOR_URL}/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The toolkit's X11 and Wayland platforms: a Wayland-only session has no X server to fall back on.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland")
# The toolkit's own texts (box buttons, context menus) in the user's language; a Tahoma with the
# metrics the windows were laid out for.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-wine")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "website availability monitor in the notification area
Quorvane keeps a list of web servers and checks every active one in turn at a
set interval: it measures the load time, compares the page with the expected
response and the time with a limit, and shows the outcome in its window, the
tray icon and its balloons, and an event log. English and Czech.")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_THREADS 0)
include(CPack)

# The TLS module for https addresses, loaded by the program at its first https fetch; found
# relative to the program (<prefix>/bin/../lib/quorvane/). dpkg-shlibdeps finds libssl3 through it.
if(TARGET qrv_tls)
  install(TARGETS qrv_tls LIBRARY DESTINATION lib/quorvane)
endif()

# `cmake --build <build> --target deb` builds what the package holds and only that (not the
# tests or benchmarks), then the package, in the build folder.
if(TARGET quorvane)
  add_custom_target(deb
    COMMAND "${CMAKE_CPACK_COMMAND}" -G DEB --config "${PROJECT_BINARY_DIR}/CPackConfig.cmake"
    WORKING_DIRECTORY "${PROJECT_BINARY_DIR}"
    COMMENT "Making ${CPACK_DEBIAN_FILE_NAME}" VERBATIM)
  add_dependencies(deb quorvane qrv_tls qrv_documents qrv_icons)
endif()
