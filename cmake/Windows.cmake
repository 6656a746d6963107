# The Windows edition's packages, made from the cross-built vestrel.exe: the program folder
# (vestrel.exe, the DLLs it loads, the qwindows platform plugin), a portable .zip of it and
# the NSIS setup program. `cmake --build build-windows --target windows-package`.
find_program(MAKENSIS makensis)
find_program(ZIP zip)
get_target_property(_qt_core_location Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT _qt_core_location)
  get_target_property(_qt_core_location Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(VESTREL_MINGW_QT_PREFIX "${_qt_core_location}/../.." ABSOLUTE)

set(win_pkg ${CMAKE_BINARY_DIR}/package)
set(win_folder ${win_pkg}/Vestrel)
set(win_setup ${CMAKE_BINARY_DIR}/vestrel-${PROJECT_VERSION}-setup.exe)
set(win_zip ${CMAKE_BINARY_DIR}/vestrel-${PROJECT_VERSION}-windows.zip)

add_custom_command(OUTPUT ${win_pkg}/files.txt ${win_pkg}/uninstall.nsh
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-deploy $<TARGET_FILE:vestrel>
          ${VESTREL_MINGW_QT_PREFIX} ${win_folder}
  DEPENDS vestrel ${PROJECT_SOURCE_DIR}/scripts/windows-deploy
  COMMENT "The Windows program folder"
  VERBATIM)
add_custom_command(OUTPUT ${win_setup}
  COMMAND ${MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DDEPLOY=${win_folder}
          -DUNINSTALL_LIST=${win_pkg}/uninstall.nsh -DOUTFILE=${win_setup}
          ${PROJECT_SOURCE_DIR}/packaging/windows/vestrel.nsi
  DEPENDS ${win_pkg}/files.txt ${PROJECT_SOURCE_DIR}/packaging/windows/vestrel.nsi
  COMMENT "The setup program"
  VERBATIM)
add_custom_command(OUTPUT ${win_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${win_zip}
  COMMAND ${ZIP} -qr9X ${win_zip} Vestrel
  DEPENDS ${win_pkg}/files.txt
  WORKING_DIRECTORY ${win_pkg}
  COMMENT "The portable .zip"
  VERBATIM)
add_custom_target(windows-package DEPENDS ${win_setup} ${win_zip})
