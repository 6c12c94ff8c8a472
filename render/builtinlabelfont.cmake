# The label font built into the programs where the system has none of its
# own for the map (Windows): Debian's DejaVu Sans files (fonts-dejavu-core),
# the ones the Linux build draws its labels from. Included from
# render/CMakeLists.txt.
option(ZARN_BUILTIN_LABEL_FONT "Build the map's label font (DejaVu Sans) into the programs" ${WIN32})
if(ZARN_BUILTIN_LABEL_FONT)
  find_path(ZARN_DEJAVU_DIR DejaVuSans.ttf
    PATHS /usr/share/fonts/truetype/dejavu NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  qt_add_resources(zarn_canvas zarn_label_font
    PREFIX /zarn/fonts
    BASE ${ZARN_DEJAVU_DIR}
    FILES
      ${ZARN_DEJAVU_DIR}/DejaVuSans.ttf
      ${ZARN_DEJAVU_DIR}/DejaVuSans-Bold.ttf
      ${ZARN_DEJAVU_DIR}/DejaVuSans-Oblique.ttf
      ${ZARN_DEJAVU_DIR}/DejaVuSans-BoldOblique.ttf)
  target_compile_definitions(zarn_canvas PRIVATE ZARN_BUILTIN_LABEL_FONT)
endif()
