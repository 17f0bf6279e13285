; The launcher's installer: per user, without administrator rights. It puts
; launcher.exe in a folder under %LOCALAPPDATA%\Programs and makes it the
; handler for launch files; its uninstaller takes back exactly that.
; Both run silently with /S.
;
; The build defines (makensis -D): TARGET (x86-unicode or amd64-unicode),
; LAUNCHER_EXE, CONFIG_EXE, CHECK_EXE, OUTFILE, VERSION, EXTENSION, MIME_TYPE, DESCRIPTION, PROGID,
; UPGRADE_CODE (the Windows Installer package's), and SIGN_COMMAND when the build signs: the installer and its uninstaller are
; then signed as makensis writes them.

Target ${TARGET}
SetCompressor /SOLID lzma
; No file times in the installer, so that a rebuild is byte-identical; the
; installed file gets the time it was written.
SetDateSave off
RequestExecutionLevel user
ManifestSupportedOS all

!include LogicLib.nsh

!ifdef SIGN_COMMAND
  !finalize '"${SIGN_COMMAND}" "%1"' = 0
  !uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
!endif

!define APP_NAME "Talvin Launcher"
!define CLASSES "Software\Classes"
!define MIME_TYPES "${CLASSES}\MIME\Database\Content Type"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvinLauncher"
!define LINKS "${CLASSES}\talvin"
!define LINK_DESCRIPTION "URL:Talvin link"
!define SHCNE_ASSOCCHANGED 0x08000000
!define SHCNF_IDLIST 0

Name "${APP_NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP_NAME}"
; Installed already: the folder offered is that install's.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${APP_NAME}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "${APP_NAME} setup"
VIAddVersionKey LegalCopyright "Talvin"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; One launcher per account: the Windows Installer package's install owns the
; same values, and either's uninstall would break the other. Exit code 1603,
; as the package's own refusal.
Function .onInit
  System::Call 'msi::MsiEnumRelatedProductsW(w "${UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
  ${If} $0 == 0
    MessageBox MB_OK|MB_ICONSTOP "${APP_NAME} is already installed by its Windows Installer package: uninstall that first." /SD IDOK
    SetErrorLevel 1603
    Quit
  ${EndIf}
FunctionEnd

; A program of the install that is running (a product's installer in
; talvin-config.exe, a launch, support's talvin-check.exe) cannot be written over, but it can be renamed:
; each is set aside as NAME.old before the new one is written, and removed
; once nothing runs it (here, or by the next install or the uninstall).
; Exit code when one cannot be set aside either: ERROR_SHARING_VIOLATION.
!define IN_USE_EXIT_CODE 32

!macro SetAside NAME
  Delete "$INSTDIR\${NAME}.old"
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    Rename "$INSTDIR\${NAME}" "$INSTDIR\${NAME}.old"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    StrCpy $1 "${NAME}"
  ${EndIf}
!macroend

; Back in place, when another could not be set aside: nothing changed.
!macro PutBack NAME
  ${IfNot} ${FileExists} "$INSTDIR\${NAME}"
    Rename "$INSTDIR\${NAME}.old" "$INSTDIR\${NAME}"
  ${EndIf}
!macroend

!macro RemoveSetAside NAME
  Delete "$INSTDIR\${NAME}.old"
!macroend

; MACRO for each program the install writes.
!macro ForEachProgram MACRO
  !insertmacro ${MACRO} launcher.exe
  !insertmacro ${MACRO} talvin-config.exe
  !insertmacro ${MACRO} talvin-check.exe
  !insertmacro ${MACRO} uninstall.exe
!macroend

Section "Launcher" SEC_LAUNCHER
  SetShellVarContext current
  ; Installed before in another folder: the install moves here, and nothing
  ; of it stays there (its uninstaller would be listed nowhere).
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $0 != $INSTDIR
    Delete "$0\launcher.exe"
    Delete "$0\talvin-config.exe"
    Delete "$0\talvin-check.exe"
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}
  SetOutPath "$INSTDIR"
  StrCpy $1 ""
  !insertmacro ForEachProgram SetAside
  ${If} $1 != ""
    !insertmacro ForEachProgram PutBack
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\$1 is in use and cannot be replaced: close it and run the setup program again." /SD IDOK
    SetErrorLevel ${IN_USE_EXIT_CODE}
    Quit
  ${EndIf}
  File "/oname=launcher.exe" "${LAUNCHER_EXE}"
  ; What products' installers call to write their sections into talvin.ini.
  File "/oname=talvin-config.exe" "${CONFIG_EXE}"
  ; What support runs when a click does nothing (talvin-check --setup).
  File "/oname=talvin-check.exe" "${CHECK_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro ForEachProgram RemoveSetAside

  ; The browser finds the handler from the type it downloads (MIME database
  ; to extension) and from the extension (ProgID to its open command).
  WriteRegStr HKCU "${CLASSES}\${EXTENSION}" "" "${PROGID}"
  WriteRegStr HKCU "${CLASSES}\${EXTENSION}" "Content Type" "${MIME_TYPE}"
  WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "${DESCRIPTION}"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\launcher.exe" "%1"'
  WriteRegStr HKCU "${MIME_TYPES}\${MIME_TYPE}" "Extension" "${EXTENSION}"
  ; talvin: links: the browser hands the whole link over as %1.
  WriteRegStr HKCU "${LINKS}" "" "${LINK_DESCRIPTION}"
  WriteRegStr HKCU "${LINKS}" "URL Protocol" ""
  WriteRegStr HKCU "${LINKS}\shell\open\command" "" '"$INSTDIR\launcher.exe" "%1"'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Talvin"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SEC_LAUNCHER} $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i ${SHCNF_IDLIST}, p 0, p 0)'
SectionEnd

; Removes a value only while it still holds what the installer wrote: another
; program may have taken the extension over since.
!macro RemoveOwnValue KEY NAME VALUE
  ReadRegStr $0 HKCU "${KEY}" "${NAME}"
  ${If} $0 == "${VALUE}"
    DeleteRegValue HKCU "${KEY}" "${NAME}"
  ${EndIf}
!macroend

Section "Uninstall"
  SetShellVarContext current
  ; Only the files written; the folders go only when nothing else is left
  ; in them.
  Delete "$INSTDIR\launcher.exe"
  Delete "$INSTDIR\talvin-config.exe"
  Delete "$INSTDIR\talvin-check.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Set aside by an install while they ran.
  !insertmacro ForEachProgram RemoveSetAside
  RMDir "$INSTDIR"
  RMDir "$LOCALAPPDATA\Programs"

  ; Only while the open command is still this folder's: an install in
  ; another folder may own the file type since.
  StrCpy $1 '"$INSTDIR\launcher.exe" "%1"'
  ReadRegStr $0 HKCU "${CLASSES}\${PROGID}\shell\open\command" ""
  ${If} $0 == $1
    DeleteRegKey HKCU "${CLASSES}\${PROGID}"
    !insertmacro RemoveOwnValue "${CLASSES}\${EXTENSION}" "" "${PROGID}"
    !insertmacro RemoveOwnValue "${CLASSES}\${EXTENSION}" "Content Type" "${MIME_TYPE}"
    !insertmacro RemoveOwnValue "${MIME_TYPES}\${MIME_TYPE}" "Extension" "${EXTENSION}"
  ${EndIf}
  DeleteRegKey /ifempty HKCU "${CLASSES}\${EXTENSION}"
  DeleteRegKey /ifempty HKCU "${MIME_TYPES}\${MIME_TYPE}"
  DeleteRegKey /ifempty HKCU "${MIME_TYPES}"
  DeleteRegKey /ifempty HKCU "${CLASSES}\MIME\Database"
  DeleteRegKey /ifempty HKCU "${CLASSES}\MIME"
  ; The scheme only while its command is still the one written here.
  ReadRegStr $0 HKCU "${LINKS}\shell\open\command" ""
  ${If} $0 == $1
    DeleteRegValue HKCU "${LINKS}\shell\open\command" ""
    !insertmacro RemoveOwnValue "${LINKS}" "" "${LINK_DESCRIPTION}"
    DeleteRegValue HKCU "${LINKS}" "URL Protocol"
  ${EndIf}
  DeleteRegKey /ifempty HKCU "${LINKS}\shell\open\command"
  DeleteRegKey /ifempty HKCU "${LINKS}\shell\open"
  DeleteRegKey /ifempty HKCU "${LINKS}\shell"
  DeleteRegKey /ifempty HKCU "${LINKS}"
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; The launcher's files of talvin: links, which may hold the password.
    Delete "$LOCALAPPDATA\Talvin\links\link-*.tvl"
    RMDir "$LOCALAPPDATA\Talvin\links"
    RMDir "$LOCALAPPDATA\Talvin"
  ${EndIf}

  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i ${SHCNF_IDLIST}, p 0, p 0)'
SectionEnd
