# The archive appender and the function that embeds the shipped catalogues into a program. The
# top level includes this file once, before it adds any folder, so every folder may call
# qrv_embed_catalogues().
include_guard(GLOBAL)
include("${CMAKE_CURRENT_LIST_DIR}/../resources/locale.cmake")

add_executable(qrv-embed "${CMAKE_CURRENT_LIST_DIR}/QrvEmbed.cpp")
target_include_directories(qrv-embed PRIVATE "${PROJECT_SOURCE_DIR}")
qrv_configure(qrv-embed)

# After every link of <target>, appends the Czech and then the English catalogue under the
# names the catalogue service looks up. The program relinks when a catalogue or the tool
# changes, so the embedded copies never go stale. Strip the program before this step, never
# after it: strip drops whatever follows the image.
function(qrv_embed_catalogues target)
  add_dependencies(${target} qrv_catalogues qrv-embed)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
    "${QRV_CATALOGUE_CS_MO}" "${QRV_CATALOGUE_EN_MO}" "$<TARGET_FILE:qrv-embed>")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND qrv-embed "$<TARGET_FILE:${target}>"
            "locale\\cs\\LC_MESSAGES\\default.mo" "${QRV_CATALOGUE_CS_MO}"
            "locale\\en\\LC_MESSAGES\\default.mo" "${QRV_CATALOGUE_EN_MO}"
    COMMENT "Embedding the catalogues into ${target}"
    VERBATIM)
endfunction()
