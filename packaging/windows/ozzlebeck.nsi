; The Windows installer: one user's own install, without administrator rights.
;
; It puts the program in %LOCALAPPDATA%\Programs\Ozzlebeck (or where an earlier install went, or
; /D=), adds a Start-menu shortcut and the program's entry in Settings > Apps (HKCU), and, when
; asked, starts the dog at sign-in (HKCU Run). The program keeps its settings file,
; ozzlebeck.ini, beside itself: installing again over an install never touches it, so the dog
; keeps its place. The uninstaller removes every file it installed by name, the shortcut, the
; sign-in entry and the Apps entry, and keeps the settings file unless asked to remove it too.
;
; Command lines:
;   setup.exe [/S] [/AUTOSTART | /NOAUTOSTART] [/D=folder]
;       /S silent; /AUTOSTART ticks "Start at sign-in", /NOAUTOSTART unticks it (an install
;       over an earlier one keeps that one's choice otherwise); /D= must come last, unquoted.
;   uninstall.exe [/S] [/PURGE]
;       /PURGE also removes the settings file (the dog's place).
; Both end with exit code 0 on success, 2 when they could not finish (the program was running,
; or a file could not be written).
;
; scripts/package builds it through the `setup` target (cmake/windows_setup.cmake), which
; defines these on makensis's command line:
;   VERSION    the program's version, as 1.2.3
;   STAGE      a folder holding the files to install (the release archive's)
;   FILES      an include listing them: !insertmacro ${OZZ_FILE} "name", one a line
;   ICON       the program's .ico
;   OUTFILE    the installer to write
;   PUBLISHER, HOMEPAGE, COPYRIGHT   as the package's metadata gives them

!macro OZZ_REQUIRE NAME
  !ifndef ${NAME}
    !error "makensis needs -D${NAME}=... (see the top of ozzlebeck.nsi)"
  !endif
!macroend
!insertmacro OZZ_REQUIRE VERSION
!insertmacro OZZ_REQUIRE STAGE
!insertmacro OZZ_REQUIRE FILES
!insertmacro OZZ_REQUIRE ICON
!insertmacro OZZ_REQUIRE OUTFILE
!insertmacro OZZ_REQUIRE PUBLISHER
!insertmacro OZZ_REQUIRE HOMEPAGE
!insertmacro OZZ_REQUIRE COPYRIGHT

Unicode true
Target amd64-unicode  ; the program is x86_64; 32-bit Windows cannot run it anyway
RequestExecutionLevel user
ManifestDPIAware true
ManifestSupportedOS all
SetCompressor /SOLID lzma

!define PRODUCT "Tavik's Ozzlebeck"
!define EXE "ozzlebeck.exe"
!define SETTINGS "ozzlebeck.ini"  ; the program's settings file: its own name, .ini
!define UNINSTALLER "uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define APPS_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ozzlebeck"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Ozzlebeck"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Ozzlebeck"
; An install over an earlier one goes where that one is, so the dog keeps its settings.
InstallDirRegKey HKCU "${APPS_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

; ---- Pages ----------------------------------------------------------------------------------
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "Start the dog now"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---- Version information of setup.exe -------------------------------------------------------
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COPYRIGHT}"

; ---- Shared by installer and uninstaller ----------------------------------------------------
; Aborts while the installed program runs: Windows refuses to open a running executable for
; writing, and neither replacing nor removing the files could finish. Interactively the user
; may close the dog (double-click) and retry.
!macro OZZ_STOP_IF_RUNNING un
  Function ${un}StopIfRunning
    ${IfNot} ${FileExists} "$INSTDIR\${EXE}"
      Return
    ${EndIf}
    retry:
    ClearErrors
    FileOpen $0 "$INSTDIR\${EXE}" a
    ${If} ${Errors}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${PRODUCT} is running from $INSTDIR.$\r$\nDouble-click the dog to close it, then click Retry." \
        /SD IDCANCEL IDRETRY retry
      DetailPrint "${PRODUCT} is running from $INSTDIR: nothing was changed."
      SetErrorLevel 2
      Abort
    ${EndIf}
    FileClose $0
  FunctionEnd
!macroend
!insertmacro OZZ_STOP_IF_RUNNING ""
!insertmacro OZZ_STOP_IF_RUNNING "un."

!macro OZZ_INSTALL_FILE NAME
  File "${STAGE}\${NAME}"
!macroend
!macro OZZ_REMOVE_FILE NAME
  Delete "$INSTDIR\${NAME}"
!macroend

; ---- Installer ------------------------------------------------------------------------------
Section "!${PRODUCT}" SecProgram
  SectionIn RO
  Call StopIfRunning
  SetOutPath "$INSTDIR"
  SetOverwrite on
  ClearErrors
  !define OZZ_FILE OZZ_INSTALL_FILE
  !include "${FILES}"
  !undef OZZ_FILE
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ${If} ${Errors}
    DetailPrint "Some files could not be written to $INSTDIR."
    SetErrorLevel 2
    Abort
  ${EndIf}

  CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr HKCU "${APPS_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${APPS_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${APPS_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${APPS_KEY}" "URLInfoAbout" "${HOMEPAGE}"
  WriteRegStr HKCU "${APPS_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${APPS_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${APPS_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${APPS_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${APPS_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${APPS_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${APPS_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Start at sign-in" SecSignIn
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${EXE}"'
SectionEnd

; Unticked, the sign-in entry goes, also one an earlier install made.
Section "-SignInOff"
  ${IfNot} ${SectionIsSelected} ${SecSignIn}
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Function .onInit
  SetShellVarContext current
  ; An earlier install's choice stands unless the command line says otherwise.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 != ""
    !insertmacro SelectSection ${SecSignIn}
  ${EndIf}
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/AUTOSTART" $0
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecSignIn}
  ${EndIf}
  ClearErrors
  ${GetOptions} $1 "/NOAUTOSTART" $0
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecSignIn}
  ${EndIf}
FunctionEnd

; ---- Uninstaller ----------------------------------------------------------------------------
Section "un.${PRODUCT}" UnSecProgram
  SectionIn RO
  Call un.StopIfRunning
  !define OZZ_FILE OZZ_REMOVE_FILE
  !include "${FILES}"
  !undef OZZ_FILE
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The shortcut and the Apps entry belong to the install the entry names. When that is another
  ; one, made in another folder after this, it keeps them. Asked whether its program is still
  ; there rather than by comparing folder names, which can be spelt in several ways.
  ReadRegStr $0 HKCU "${APPS_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${OrIfNot} ${FileExists} "$0\${EXE}"
    Delete "${SHORTCUT}"
    DeleteRegKey HKCU "${APPS_KEY}"
  ${EndIf}
  ; Likewise the sign-in entry: it goes unless it starts a program that is still there.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  StrCpy $1 $0 "" 1  ; '"folder\ozzlebeck.exe"' without its quotes
  StrCpy $1 $1 -1
  ${If} $0 != ""
  ${AndIfNot} ${FileExists} $1
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Section /o "un.Settings (where the dog stands)" UnSecSettings
  Delete "$INSTDIR\${SETTINGS}"
  ; where the program keeps them when its own folder cannot be written
  Delete "$LOCALAPPDATA\Ozzlebeck\${SETTINGS}"
  RMDir "$LOCALAPPDATA\Ozzlebeck"
SectionEnd

; Last: the folder goes only when nothing is left in it (a kept settings file keeps it).
Section "-un.Folder"
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  SetShellVarContext current
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/PURGE" $0
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecSettings}
  ${EndIf}
FunctionEnd
