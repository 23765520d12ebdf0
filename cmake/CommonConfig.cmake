# Settings every target of ours shares: language level, warnings, hardening.
function(qrv_configure target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wold-style-cast -Wnon-virtual-dtor -Wpedantic
    -Wconversion -Wsign-conversion -Wcast-qual -Woverloaded-virtual)
  if(QRV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_compile_definitions(${target} PRIVATE
    $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>
    $<$<CONFIG:Release,RelWithDebInfo>:_FORTIFY_SOURCE=2>)
endfunction()

# Qt parts: no implicit conversions from char* to QString, no keywords as macros.
function(qrv_configure_qt target)
  qrv_configure(${target})
  target_compile_definitions(${target} PRIVATE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_KEYWORDS QT_NO_URL_CAST_FROM_STRING
    QT_NO_CAST_FROM_BYTEARRAY QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
endfunction()

# A library target made of every source in its folder.
function(qrv_folder_library target)
  file(GLOB _src CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(NOT _src)
    message(FATAL_ERROR "${target}: no sources in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  add_library(${target} STATIC ${_src})
  target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}")
  qrv_configure(${target})
endfunction()

# One test binary for a folder of tests.
function(qrv_folder_tests target)
  file(GLOB _src CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_executable(${target} ${_src})
  qrv_configure(${target})
  target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${target} PRIVATE
    QRV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    QRV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QRV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
