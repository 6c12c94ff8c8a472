# The Windows resources of a program: its manifest (per-monitor DPI
# awareness, the common controls of today, long paths), the icon made from
# data/zarn.svg, and a version resource. Included from shell/CMakeLists.txt.
include_guard(GLOBAL)
enable_language(RC)

function(zarn_windows_resources target description)
  set(ZARN_PROGRAM ${target})
  set(ZARN_FILE_DESCRIPTION "${description}")
  set(ZARN_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
  set(ZARN_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  set(ZARN_ICON ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/zarn.ico)
  set(ZARN_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/windows/zarn.manifest)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/zarn.manifest ${ZARN_MANIFEST} @ONLY)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/program.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/windows/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/windows/${target}.rc)
endfunction()
