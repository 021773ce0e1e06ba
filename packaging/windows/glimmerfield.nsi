; The Windows installer of Glimmerfield: 64-bit, for the current user
; (default, no administrator needed) or for every user of the machine.
; Made by scripts/build-windows.sh:
;   makensis -DVERSION=0.94 -DBIN=<stripped programs> -DICON=shell/win/glimmerfield.ico
;            -DOUTFILE=...setup.exe glimmerfield.nsi
;
; Silent use: setup.exe /S [/CurrentUser | /AllUsers] [/StartAtLogon] [/D=folder]
;             uninstall.exe /S [/CurrentUser | /AllUsers]
; The operator's files (playlist, preferences, caches, show.log) live in
; %LOCALAPPDATA%\Glimmerfield and stay there when the program is removed.

; A 64-bit installer: the programs are 64-bit, and a 32-bit one would not
; run where only 64-bit Windows code can (Wine without its 32-bit half).
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BIN
  !error "BIN (the folder of the built programs) is not defined"
!endif
!ifndef ICON
  !error "ICON (the program's .ico) is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "glimmerfield-${VERSION}-win64-setup.exe"
!endif

!define PRODUCT "Glimmerfield"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerfield"
!define SETTINGS_KEY "Software\Glimmerfield"

; Per-user into %LOCALAPPDATA%\Programs\Glimmerfield, per-machine into
; C:\Program Files\Glimmerfield (64-bit).
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${SETTINGS_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallFolder"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${SETTINGS_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!include MultiUser.nsh
!include MUI2.nsh
!include x64.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT} developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\glimmerfield.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Open the Glimmerfield Player"
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Glimmerfield Player" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${BIN}\glimmerfield.exe"
  File "${BIN}\glimmer.exe"
  File "${BIN}\glimmer-extract.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Glimmerfield Player.lnk" "$INSTDIR\glimmerfield.exe" "" \
    "$INSTDIR\glimmerfield.exe" 0 SW_SHOWNORMAL "" "Light-show player"

  ; Where this copy is and how it was installed, for the next setup and
  ; the uninstaller.
  WriteRegStr SHCTX "${SETTINGS_KEY}" "InstallFolder" "$INSTDIR"
  WriteRegStr SHCTX "${SETTINGS_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\glimmerfield.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /S /$MultiUser.InstallMode'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Runs "glimmer show" whenever the installing user logs on, through the Task
; Scheduler (glimmer service), restarted after a failure.
Section /o "Start the show when I log on" SecStartAtLogon
  ExecWait '"$INSTDIR\glimmer.exe" service --install' $0
  ${If} $0 == 0
    WriteRegDWORD SHCTX "${SETTINGS_KEY}" "StartAtLogon" 1
  ${Else}
    DetailPrint "The Task Scheduler refused the show's task (glimmer service exit code $0)."
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONEXCLAMATION "The show could not be set to start at logon \
        (glimmer service --install ended with $0). The player is installed; run \
        'glimmer service --install' later to try again."
    ${EndIf}
  ${EndIf}
SectionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "Glimmerfield needs 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
  !insertmacro MULTIUSER_INIT
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/StartAtLogon" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecStartAtLogon}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 SHCTX "${SETTINGS_KEY}" "StartAtLogon"
  ${If} $0 == 1
    ExecWait '"$INSTDIR\glimmer.exe" service --uninstall'
  ${EndIf}
  ; Only what the installer put here: the operator's files stay.
  Delete "$INSTDIR\glimmerfield.exe"
  Delete "$INSTDIR\glimmer.exe"
  Delete "$INSTDIR\glimmer-extract.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Glimmerfield Player.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DeleteRegKey SHCTX "${SETTINGS_KEY}"
SectionEnd
