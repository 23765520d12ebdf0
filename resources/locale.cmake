# The shipped message catalogues, compiled from their .po sources by msgfmt at build time.
# Exposes QRV_CATALOGUE_CS_MO and QRV_CATALOGUE_EN_MO (cache, internal) and the target
# qrv_catalogues that builds them. Included once, by tools/embed.cmake at the top level.
include_guard(GLOBAL)

find_program(QRV_MSGFMT msgfmt REQUIRED)

set(_qrv_locale_src "${CMAKE_CURRENT_LIST_DIR}/locale")
set(_qrv_locale_out "${PROJECT_BINARY_DIR}/resources/locale")
set(_qrv_catalogues)
foreach(_lang cs en)
  set(_mo "${_qrv_locale_out}/${_lang}/LC_MESSAGES/default.mo")
  add_custom_command(
    OUTPUT "${_mo}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_qrv_locale_out}/${_lang}/LC_MESSAGES"
    COMMAND ${QRV_MSGFMT} -o "${_mo}" "${_qrv_locale_src}/${_lang}/default.po"
    DEPENDS "${_qrv_locale_src}/${_lang}/default.po"
    COMMENT "Compiling the ${_lang} catalogue"
    VERBATIM)
  list(APPEND _qrv_catalogues "${_mo}")
endforeach()
add_custom_target(qrv_catalogues ALL DEPENDS ${_qrv_catalogues})

set(QRV_CATALOGUE_CS_MO "${_qrv_locale_out}/cs/LC_MESSAGES/default.mo" CACHE INTERNAL "")
set(QRV_CATALOGUE_EN_MO "${_qrv_locale_out}/en/LC_MESSAGES/default.mo" CACHE INTERNAL "")
