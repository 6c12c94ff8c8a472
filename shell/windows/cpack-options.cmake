# Read by cpack for each generator: the installer's name says what it is.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
# "Open with ZARN" for .bna files: a file type of ZARN's own whose command
# hands the file to the window, offered beside whatever program opens .bna
# files already (OpenWithProgids), which the installer leaves alone. The
# uninstaller takes both out again.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  WriteRegStr HKLM "Software\Classes\ZARN.bna" "" "BNA vector file"
  WriteRegStr HKLM "Software\Classes\ZARN.bna\DefaultIcon" "" "$INSTDIR\zarn.exe,0"
  WriteRegStr HKLM "Software\Classes\ZARN.bna\shell\open" "" "Open with ZARN"
  WriteRegStr HKLM "Software\Classes\ZARN.bna\shell\open\command" "" '"$INSTDIR\zarn.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\.bna\OpenWithProgids" "ZARN.bna" ""
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]=])
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  DeleteRegKey HKLM "Software\Classes\ZARN.bna"
  DeleteRegValue HKLM "Software\Classes\.bna\OpenWithProgids" "ZARN.bna"
  DeleteRegKey /ifempty HKLM "Software\Classes\.bna\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.bna"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]=])
