# The Windows programs' resources and the installer.
#
#   raid_win_resources(<target> <requireAdministrator|asInvoker> <description>)
#       gives the program its manifest (the execution level it asks for, Common Controls 6,
#       per-monitor DPI awareness, Windows 7 to 11), the icon "Z1" and its version
#       resource, all from packaging/windows/program.{manifest,rc}.in.
#   raid_win_installer(<window target> <monitor target>)
#       the target `installer` (not part of `all`): makensis builds
#       raid-gui-setup-<version>.exe in the build folder from packaging/windows/raid-gui.nsi.
enable_language(RC)
find_program(RAID_MAKENSIS makensis)

# The build number after the project version: the version text the window's caption
# shows ("v0.23.7-3", app/MainForm.h kVersionText; test_win32 checks that they agree).
set(RAID_BUILD_NUMBER 3)
set(RAID_VERSION_TEXT "v${PROJECT_VERSION}-${RAID_BUILD_NUMBER}")
set(RAID_COMPANY "The RAID GUI authors")
set(RAID_COPYRIGHT "Copyright (C) 2026 The RAID GUI authors")
set(RAID_WIN_PACKAGING ${CMAKE_SOURCE_DIR}/packaging/windows)

function(raid_win_resources target level description)
  if(NOT level STREQUAL "requireAdministrator" AND NOT level STREQUAL "asInvoker")
    message(FATAL_ERROR "raid_win_resources(${target}): level '${level}' is neither requireAdministrator nor asInvoker")
  endif()
  set(RAID_RES_NAME ${target})
  set(RAID_RES_LEVEL ${level})
  set(RAID_RES_DESCRIPTION "${description}")
  set(RAID_RES_COMPANY "${RAID_COMPANY}")
  set(RAID_RES_COPYRIGHT "${RAID_COPYRIGHT}")
  set(RAID_RES_VERSION_TEXT "${RAID_VERSION_TEXT}")
  set(RAID_RES_VERSION4 "${PROJECT_VERSION}.${RAID_BUILD_NUMBER}")
  set(RAID_RES_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${RAID_BUILD_NUMBER}")
  set(out ${CMAKE_BINARY_DIR}/resources/${target})
  set(RAID_RES_MANIFEST ${out}.manifest)
  set(RAID_RES_ICON ${RAID_WIN_PACKAGING}/raid-gui.ico)
  configure_file(${RAID_WIN_PACKAGING}/program.manifest.in ${out}.manifest @ONLY)
  configure_file(${RAID_WIN_PACKAGING}/program.rc.in ${out}.rc @ONLY)
  # windres reads the manifest and the icon through the .rc: rebuild when they change
  # (the property set where the target is, which may be another folder).
  set_source_files_properties(${out}.rc TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS "${out}.manifest;${RAID_RES_ICON}")
  target_sources(${target} PRIVATE ${out}.rc)
endfunction()

function(raid_win_installer gui monitor)
  if(NOT RAID_MAKENSIS)
    message(STATUS "makensis not found: no `installer` target (Debian package nsis)")
    return()
  endif()
  set(nsi ${RAID_WIN_PACKAGING}/raid-gui.nsi)
  set(setup ${CMAKE_BINARY_DIR}/raid-gui-setup-${PROJECT_VERSION}.exe)
  set(texts ${CMAKE_BINARY_DIR}/resources/installer)
  # What is installed beside the program is gathered in resources/installer: the texts
  # with Windows line ends for Notepad, the programs without their debugging information.
  configure_file(${RAID_WIN_PACKAGING}/README.txt.in ${texts}/README.txt @ONLY NEWLINE_STYLE WIN32)
  configure_file(${RAID_WIN_PACKAGING}/LICENCE.txt ${texts}/LICENCE.txt @ONLY NEWLINE_STYLE WIN32)
  # (Stripped: a tenth of their size.)
  set(stripped)
  foreach(t ${gui} ${monitor})
    add_custom_command(OUTPUT ${texts}/${t}.exe
                       COMMAND ${CMAKE_STRIP} -o ${texts}/${t}.exe $<TARGET_FILE:${t}>
                       DEPENDS ${t} VERBATIM)
    list(APPEND stripped ${texts}/${t}.exe)
  endforeach()
  add_custom_command(
    OUTPUT ${setup}
    COMMAND ${RAID_MAKENSIS} -V2 -WX -INPUTCHARSET UTF8
            -DVERSION=${PROJECT_VERSION} -DVERSION4=${PROJECT_VERSION}.${RAID_BUILD_NUMBER}
            -DVERSION_TEXT=${RAID_VERSION_TEXT} "-DCOMPANY=${RAID_COMPANY}" "-DCOPYRIGHT=${RAID_COPYRIGHT}"
            -DGUI_EXE=${texts}/${gui}.exe -DMONITOR_EXE=${texts}/${monitor}.exe
            -DTEXTS=${texts} -DICON=${RAID_WIN_PACKAGING}/raid-gui.ico -DOUTFILE=${setup} ${nsi}
    DEPENDS ${stripped} ${nsi} ${texts}/README.txt ${texts}/LICENCE.txt ${RAID_WIN_PACKAGING}/raid-gui.ico
    COMMENT "makensis: raid-gui-setup-${PROJECT_VERSION}.exe"
    VERBATIM)
  add_custom_target(installer DEPENDS ${setup})
endfunction()
