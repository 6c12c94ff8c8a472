# The About window, a library of its own so that its tests link only it.
# Included from shell/CMakeLists.txt.
include_guard(GLOBAL)
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(zarn_about STATIC
  ${CMAKE_CURRENT_LIST_DIR}/form2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/form2.h
)
target_include_directories(zarn_about PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zarn_about PUBLIC zarn_settings zarn_canvas Qt6::Widgets)
set_target_properties(zarn_about PROPERTIES AUTOMOC ON)
file(RELATIVE_PATH zarn_data_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/zarn)
target_compile_definitions(zarn_about PRIVATE ZARN_DATA_FROM_BIN="${zarn_data_from_bin}")
# The About window shows zarn.txt (with the version filled in) from the
# program's folder in a build tree; once installed, from <prefix>/share/zarn,
# on Windows from the program's folder.
configure_file(${CMAKE_CURRENT_LIST_DIR}/zarn.txt ${CMAKE_CURRENT_BINARY_DIR}/zarn.txt @ONLY)
if(WIN32)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zarn.txt DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zarn.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/zarn)
endif()
