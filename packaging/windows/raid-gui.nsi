; The Windows installer of RAID GUI, built by the CMake target `installer` (makensis from
; Debian's nsis); cmake/WinResources.cmake passes the defines below.
;
; What it does, as an administrator:
;   - puts raid-gui.exe, raid-gui-monitor.exe, README.txt, LICENCE.txt and uninstall.exe
;     into "$PROGRAMFILES64\RAID GUI" (always there: see .onInit);
;   - a Start-menu entry for all users;
;   - the scheduled task "RAID GUI" that starts raid-gui.exe with the highest rights the
;     user has when a user logs on (Windows does not start an elevated program from the
;     Run key: UAC blocks it at log-on);
;   - the entry in Add/Remove Programs (the 64-bit registry view).
; The uninstaller removes exactly those, and leaves what the program made: the day logs
; and alert texts beside it and the settings key SOFTWARE\QX_RAID_GUI.
;
; Both refuse to run while a RAID GUI window is open (its mutex "QX_GUI") or a program
; of the folder runs elsewhere.
;
; Running elevated, neither follows a path a user could have planted: the program folder
; is under Program Files (only administrators create anything there) and is refused when
; it is a link; the task's definition is written into this run's private plug-in folder;
; schtasks is called by its full path in the system folder, never looked up beside the
; setup program.

!ifndef GUI_EXE | MONITOR_EXE | TEXTS | ICON | OUTFILE | VERSION | VERSION4 | VERSION_TEXT | COMPANY | COPYRIGHT
  !error "build with the CMake target `installer`"
!endif

Unicode true
; 64-bit: the programs are x64, and so the registry and file views are the native ones.
Target amd64-unicode
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "RAID GUI"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RAID GUI"
!define TASK "RAID GUI"
!define SCHTASKS "$SYSDIR\schtasks.exe"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION_TEXT} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ManifestDPIAware true
ManifestSupportedOS all
Icon "${ICON}"
UninstallIcon "${ICON}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A RAID GUI window open in this session: its files are in use, and the engine may be in
; the middle of a firmware upgrade. Asks the user to close it and ends (exit code 2).
; A mutex that exists but cannot be opened (another user's rights) counts as open.
!macro REFUSE_WHILE_RUNNING UN
Function ${UN}refuseWhileRunning
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "QX_GUI") p .r0 ?e'
  Pop $1
  ${If} $0 != 0
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  ${If} $0 != 0
  ${OrIf} $1 = 5
    MessageBox MB_OK|MB_ICONSTOP "RAID GUI is running.$\r$\n$\r$\nClose the RAID GUI window, then start this program again." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_RUNNING ""
!insertmacro REFUSE_WHILE_RUNNING "un."

; A program of the folder that runs where the mutex cannot be seen (in another user's
; session, or the console monitor) holds its file: a running program's file cannot be
; opened for writing. Ends (exit code 2) rather than leave an install half replaced
; or half removed.
!macro REFUSE_WHILE_IN_USE UN
Function ${UN}refuseWhileInUse
  Push $R0
  ${ForEach} $R0 0 1 + 1
    ${If} $R0 = 0
      StrCpy $2 "raid-gui.exe"
    ${Else}
      StrCpy $2 "raid-gui-monitor.exe"
    ${EndIf}
    ; GENERIC_WRITE, no sharing, OPEN_EXISTING: opens only what is there, changes nothing.
    System::Call 'kernel32::CreateFileW(w "$INSTDIR\$2", i 0x40000000, i 0, p 0, i 3, i 0, p 0) p .r0 ?e'
    Pop $1
    ${If} $0 != -1
      System::Call 'kernel32::CloseHandle(p r0)'
    ${ElseIf} $1 <> 2  ; ERROR_FILE_NOT_FOUND
    ${AndIf} $1 <> 3   ; ERROR_PATH_NOT_FOUND: no folder yet
      MessageBox MB_OK|MB_ICONSTOP "$2 is in use (error $1).$\r$\n$\r$\nEnd every RAID GUI program, for every user, then start this program again." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${Next}
  Pop $R0
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_IN_USE ""
!insertmacro REFUSE_WHILE_IN_USE "un."

; $0 with each "&" written as "&amp;" ("<", ">" and '"' cannot occur in a path).
Function xmlEscape
  Push $1
  Push $2
  Push $3
  StrCpy $1 ""
  StrCpy $3 0
  ${Do}
    StrCpy $2 $0 1 $3
    ${If} $2 == ""
      ${Break}
    ${EndIf}
    ${If} $2 == "&"
      StrCpy $2 "&amp;"
    ${EndIf}
    StrCpy $1 "$1$2"
    IntOp $3 $3 + 1
  ${Loop}
  StrCpy $0 $1
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

Function .onInit
  SetShellVarContext all
  SetRegView 64
  Call refuseWhileRunning
  ; Always under Program Files, whatever /D= says: the log-on task starts raid-gui.exe
  ; with administrator rights, so it must lie where only administrators can write.
  StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ; An existing folder that is a junction or symbolic link leads elsewhere: refused.
  System::Call 'kernel32::GetFileAttributesW(w "$INSTDIR") i .r0'
  ${If} $0 != -1
    IntOp $1 $0 & 0x400
    IntOp $2 $0 & 0x10
    ${If} $1 <> 0
    ${OrIf} $2 = 0
      MessageBox MB_OK|MB_ICONSTOP "$INSTDIR is not a plain folder.$\r$\n$\r$\nRemove it, then start this program again." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
  Call refuseWhileInUse
FunctionEnd

Section "RAID GUI"
  SetOutPath "$INSTDIR"
  File "/oname=raid-gui.exe" "${GUI_EXE}"
  File "/oname=raid-gui-monitor.exe" "${MONITOR_EXE}"
  File "/oname=README.txt" "${TEXTS}/README.txt"
  File "/oname=LICENCE.txt" "${TEXTS}/LICENCE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\raid-gui.exe" "" "$INSTDIR\raid-gui.exe" 0 \
                 SW_SHOWNORMAL "" "Watch and manage RAID enclosures"

  ; The log-on task, as a task definition: for every member of Users (S-1-5-32-545), in
  ; the session of whoever logs on, with the highest rights that user has (an
  ; administrator's without asking), one window per session, no time limit.
  InitPluginsDir
  StrCpy $0 "$INSTDIR"
  Call xmlEscape
  FileOpen $9 "$PLUGINSDIR\task.xml" w
  ${If} $9 == ""
    Abort "Cannot write the task definition."
  ${EndIf}
  FileWriteWord $9 0xFEFF
  FileWriteUTF16LE $9 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $9 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $9 '  <RegistrationInfo><Description>Starts RAID GUI when a user logs on.</Description></RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $9 '  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>$\r$\n'
  FileWriteUTF16LE $9 '  <Principals><Principal id="Users"><GroupId>S-1-5-32-545</GroupId><RunLevel>HighestAvailable</RunLevel></Principal></Principals>$\r$\n'
  FileWriteUTF16LE $9 '  <Settings>$\r$\n'
  FileWriteUTF16LE $9 '    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $9 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $9 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $9 '    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $9 '    <Priority>4</Priority>$\r$\n'
  FileWriteUTF16LE $9 '  </Settings>$\r$\n'
  FileWriteUTF16LE $9 '  <Actions Context="Users"><Exec><Command>"$0\raid-gui.exe"</Command><WorkingDirectory>$0</WorkingDirectory></Exec></Actions>$\r$\n'
  FileWriteUTF16LE $9 '</Task>$\r$\n'
  FileClose $9
  nsExec::ExecToLog '"${SCHTASKS}" /Create /F /TN "${TASK}" /XML "$PLUGINSDIR\task.xml"'
  Pop $0
  ${If} $0 != 0
    DetailPrint "schtasks /Create: $0"
    MessageBox MB_OK|MB_ICONEXCLAMATION "The task that starts RAID GUI at log-on could not be made ($0).$\r$\nRAID GUI is installed; start it from the Start menu." /SD IDOK
  ${EndIf}

  SetRegView 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\raid-gui.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  Call un.refuseWhileRunning
  Call un.refuseWhileInUse
FunctionEnd

; Only what the setup put there, by name: the day logs (yymmdd.log) and the alert texts
; stay beside the program, and the folder with them; the settings key is not touched.
Section "Uninstall"
  nsExec::ExecToLog '"${SCHTASKS}" /Delete /F /TN "${TASK}"'
  Pop $0
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\raid-gui.exe"
  Delete "$INSTDIR\raid-gui-monitor.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENCE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: only when nothing else is left in it.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
