; The per-user setup of BrekGSMDemo: no administrator rights, the user's own programs folder,
; a Start-menu shortcut and an uninstall entry; /S for a silent run. Built by
; ./dev package-windows (makensis -DEXE=... -DINI=... -DOUT=...).
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
; The files packed carry no dates of their own: a rebuild gives the same setup.
SetDateSave off

!include "MUI2.nsh"

!getdllversion "${EXE}" Version_
!define VERSION "${Version_1}.${Version_2}.${Version_3}.${Version_4}"
!define NAME "BrekGSMDemo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define SHORTCUT "$SMPROGRAMS\Брек GSM демонстрация.lnk"

Name "Брек GSM: демонстрация"
OutFile "${OUT}"
!ifdef SIGN
  ; Signed as it is made (makensis stops if a signing fails): the uninstaller before it is
  ; packed, the setup once written.
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductName" "Брек GSM: демонстрация"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка программы демонстрации Брек GSM"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "Брек"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\BrekGSMDemo.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Section "Программа"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${EXE}"
  ; The settings are the user's: an upgrade keeps the ones there.
  SetOverwrite off
  File "${INI}"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\BrekGSMDemo.exe" "" "$INSTDIR\BrekGSMDemo.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Брек GSM: демонстрация"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Брек"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\BrekGSMDemo.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; The program, its shortcut and its entry go; the settings file and the logs the program
; wrote beside itself stay (they are the demonstrator's), and with them the folder.
Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\BrekGSMDemo.exe"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  RMDir "$INSTDIR"
SectionEnd
