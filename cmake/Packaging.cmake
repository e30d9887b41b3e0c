# Installation and the Debian packages.
#
#   cmake --install build --component monitor    the service, its unit and man page
#   cmake --install build --component gui        the window, raid-gui-sim, desktop entries
#   scripts/package.sh                           both as .deb files (CPack)
#
# The packaged files name the installed paths (the desktop entries run /usr/bin/raid-gui,
# the unit runs /usr/sbin/raid-gui-monitor), so a build that
# is packaged is configured for /usr; that is the default here. A build configured for
# another prefix installs there consistently, with `cmake --install` only.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

# Bookworm's systemd keeps system units below /lib (its systemd.pc says so).
set(RAID_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the systemd unit goes")
set(RAID_PACKAGE_CONTACT "RAID GUI maintainers <maintainers@raid-gui.invalid>"
    CACHE STRING "Maintainer of the Debian packages")

set(RAID_MONITOR_PATH ${CMAKE_INSTALL_FULL_SBINDIR}/raid-gui-monitor)
set(RAID_GUI_PATH ${CMAKE_INSTALL_FULL_BINDIR}/raid-gui)

set(pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(pkg_out ${CMAKE_BINARY_DIR}/packaging)
configure_file(${pkg_src}/raid-gui-monitor.service.in ${pkg_out}/raid-gui-monitor.service @ONLY)
configure_file(${pkg_src}/raid-gui.desktop.in ${pkg_out}/raid-gui.desktop @ONLY)
configure_file(${pkg_src}/raid-gui-autostart.desktop.in ${pkg_out}/autostart/raid-gui.desktop @ONLY)
configure_file(${pkg_src}/debian/changelog.in ${pkg_out}/changelog @ONLY)

# Debian wants man pages and the changelog compressed, reproducibly (-n: no time stamp).
find_program(RAID_GZIP gzip REQUIRED)
set(gz_files)
foreach(page raid-gui.1 raid-gui-sim.1 raid-gui-monitor.8)
  add_custom_command(OUTPUT ${pkg_out}/${page}.gz
                     COMMAND ${RAID_GZIP} -9nc ${pkg_src}/${page} > ${pkg_out}/${page}.gz
                     DEPENDS ${pkg_src}/${page} VERBATIM)
  list(APPEND gz_files ${pkg_out}/${page}.gz)
endforeach()
add_custom_command(OUTPUT ${pkg_out}/changelog.gz
                   COMMAND ${RAID_GZIP} -9nc ${pkg_out}/changelog > ${pkg_out}/changelog.gz
                   DEPENDS ${pkg_out}/changelog VERBATIM)
list(APPEND gz_files ${pkg_out}/changelog.gz)
add_custom_target(raid-packaging-files ALL DEPENDS ${gz_files})

# --- monitor: the service
install(TARGETS raid-gui-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT monitor)
install(FILES ${pkg_out}/raid-gui-monitor.service DESTINATION ${RAID_SYSTEMD_UNIT_DIR} COMPONENT monitor)
# The service on the system bus: who may own its name and call it, its activation
# through systemd, and the polkit actions its methods ask about.
install(FILES ${pkg_src}/org.qxraidgui.Monitor1.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d COMPONENT monitor)
install(FILES ${pkg_src}/org.qxraidgui.Monitor1.service
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system-services COMPONENT monitor)
install(FILES ${pkg_src}/org.qxraidgui.monitor1.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions COMPONENT monitor)
install(FILES ${pkg_out}/raid-gui-monitor.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT monitor)
install(FILES ${pkg_src}/debian/copyright ${pkg_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/raid-gui-monitor COMPONENT monitor)
# Examples to copy and install as root (not run from here: mode 0644).
install(FILES ${CMAKE_SOURCE_DIR}/docs/alert-programs/push-ntfy.sh ${CMAKE_SOURCE_DIR}/docs/alert-programs/webhook-json.sh
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/raid-gui-monitor/alert-programs COMPONENT monitor)

# --- gui: the window
if(TARGET raid-gui)
  # The menu icon is the window's own icon, painted by gui/Artwork.cpp at each size.
  add_executable(raid-gui-render-icon ${pkg_src}/RenderIcon.cpp)
  target_link_libraries(raid-gui-render-icon PRIVATE raid_gui)
  set(icon_sizes 16 24 32 48 64 128 256)
  set(icon_files)
  foreach(s ${icon_sizes})
    list(APPEND icon_files ${pkg_out}/icons/hicolor/${s}x${s}/apps/raid-gui.png)
  endforeach()
  add_custom_command(OUTPUT ${icon_files}
                     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
                             $<TARGET_FILE:raid-gui-render-icon> ${pkg_out}/icons/hicolor ${icon_sizes}
                     DEPENDS raid-gui-render-icon VERBATIM)
  add_custom_target(raid-gui-icons ALL DEPENDS ${icon_files})

  install(TARGETS raid-gui raid-gui-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
  install(FILES ${pkg_out}/raid-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
  install(FILES ${pkg_out}/autostart/raid-gui.desktop
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart COMPONENT gui)
  install(DIRECTORY ${pkg_out}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT gui)
  install(FILES ${pkg_out}/raid-gui.1.gz ${pkg_out}/raid-gui-sim.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
  install(FILES ${pkg_src}/debian/copyright ${pkg_out}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/raid-gui COMPONENT gui)
  file(WRITE ${pkg_out}/gui-control/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart/raid-gui.desktop\n")
endif()

# --- CPack: one .deb per component
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME raid-gui)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${RAID_PACKAGE_CONTACT})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(TARGET raid-gui)
  set(CPACK_COMPONENTS_ALL monitor gui)
else()
  set(CPACK_COMPONENTS_ALL monitor)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME raid-gui-monitor)
# CPack indents the lines after the first (the synopsis) itself.
set(CPACK_DEBIAN_MONITOR_DESCRIPTION "monitor for two-bay RAID enclosures, without a window
The engine of RAID GUI as a systemd service: it finds USB and eSATA two-bay
RAID enclosures, polls their status, writes day logs in /var/log/raid-gui and
e-mails alerts. --status prints one summary per enclosure. No Qt needed.")
set(CPACK_DEBIAN_MONITOR_PACKAGE_CONTROL_EXTRA
    ${pkg_src}/debian/postinst ${pkg_src}/debian/prerm ${pkg_src}/debian/postrm)
set(CPACK_DEBIAN_MONITOR_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# A Type=dbus unit starts only where a system bus runs. Without polkit the service
# still watches and mails, and refuses every method that needs a permission.
set(CPACK_DEBIAN_MONITOR_PACKAGE_DEPENDS "default-dbus-system-bus | dbus-system-bus")
set(CPACK_DEBIAN_MONITOR_PACKAGE_RECOMMENDS "polkitd")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME raid-gui)
set(CPACK_COMPONENT_GUI_DEPENDS monitor)
# The window is an unprivileged client of the service on the system bus: it needs the
# service (the component dependency above, same version) and a system bus to reach it.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "default-dbus-system-bus | dbus-system-bus")
# Alerts become desktop notifications through the session's own bus.
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS "default-dbus-session-bus | dbus-session-bus")
set(CPACK_DEBIAN_GUI_DESCRIPTION "manager for two-bay RAID enclosures (USB, eSATA)
A window that shows the mode, drives, rebuild progress, fan and temperature of
external two-bay RAID enclosures, their day log and alerts, sets up the alert
mail and upgrades the controller's firmware. It runs as the user, as a client
of raid-gui-monitor on the system bus. raid-gui-sim runs the same window on
simulated enclosures.")
set(CPACK_DEBIAN_GUI_PACKAGE_CONTROL_EXTRA ${pkg_out}/gui-control/conffiles)

include(CPack)
