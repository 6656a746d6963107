# What `cmake --install` puts where, and the Debian package that `make package` makes of it
# with CPack. Included from the top-level CMakeLists.txt after the targets. Where the user
# cannot write beside the executable, config.ini and Command.log live in the user's folders.
include(GNUInstallDirs)

set(VESTREL_APP_ID io.github.vestrel.vestrel)
set(VESTREL_MAINTAINER "Vestrel developers <vestrel@example.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")

install(TARGETS vestrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES share/${VESTREL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES share/${VESTREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 22 24 32 48)
  install(FILES src/app/resources/icon-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vestrel.png)
endforeach()
install(FILES src/app/resources/vestrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Start at login, shipped disabled: the user copies it into ~/.config/autostart.
install(FILES share/autostart/vestrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/vestrel/autostart)

# The backup services: a user pair for a desktop user, a system template pair (one instance per
# database) with its system user. systemd's own folders are lib/, not the architecture's libdir.
set(VESTREL_BINARY ${CMAKE_INSTALL_FULL_BINDIR}/vestrel)
set(units_dir ${CMAKE_BINARY_DIR}/share/systemd)
foreach(unit vestrel-backup.service vestrel-backup@.service)
  configure_file(share/systemd/${unit}.in ${units_dir}/${unit} @ONLY)
endforeach()
install(FILES ${units_dir}/vestrel-backup.service share/systemd/vestrel-backup.timer
        DESTINATION lib/systemd/user)
install(FILES ${units_dir}/vestrel-backup@.service share/systemd/vestrel-backup@.timer
        DESTINATION lib/systemd/system)
install(FILES share/systemd/vestrel.sysusers DESTINATION lib/sysusers.d RENAME vestrel.conf)

# The manual page and the documents, compressed as Debian wants them.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vestrel)
set(gz_dir ${CMAKE_BINARY_DIR}/share)
function(vestrel_gzip source output)
  add_custom_command(OUTPUT ${gz_dir}/${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gz_dir}
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/${source} > ${gz_dir}/${output}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source}
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY vestrel_gz_files ${gz_dir}/${output})
endfunction()
vestrel_gzip(share/vestrel.1 vestrel.1.gz)
vestrel_gzip(CHANGELOG.md changelog.gz)
vestrel_gzip(share/debian/changelog changelog.Debian.gz)
vestrel_gzip(README.md README.md.gz)
get_property(gz_files GLOBAL PROPERTY vestrel_gz_files)
add_custom_target(vestrel_docs ALL DEPENDS ${gz_files})
install(FILES ${gz_dir}/vestrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${gz_dir}/changelog.gz ${gz_dir}/changelog.Debian.gz ${gz_dir}/README.md.gz
        DESTINATION ${doc_dir})
install(FILES share/debian/copyright DESTINATION ${doc_dir})
install(FILES share/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME vestrel)

# The Debian package: vestrel_<version>-<release>_<arch>.deb in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vestrel)
set(CPACK_PACKAGE_VENDOR "Vestrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VESTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "back up one SQL Server database on request or in enabled hours")
# CPack puts the summary first; this is the extended description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vestrel backs up one Microsoft SQL Server database into one backup file: when
you ask, or automatically once in each hour of the day that you have enabled.
It lives as an icon in the notification area, with a window that shows the
connection settings, the activity hours, an activity log, a progress bar and
state lamps. The interface is in Italian.
.
It reaches SQL Server through the FreeTDS ODBC driver (tdsodbc) and the
unixODBC driver manager.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VESTREL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the executable links (Qt 6, unixODBC's libodbc2, the C++ runtime) come from
# dpkg-shlibdeps; the SQL Server driver is loaded at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tdsodbc, odbcinst")
# The window's font: a face with Arial's widths stands in for MS Sans Serif.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
# Makes the services' system user on installation.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/share/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
