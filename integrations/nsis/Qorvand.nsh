; Qorvand Uninstaller for NSIS installers.
;
;   !include "Qorvand.nsh"
;   Section
;     SetOutPath "$INSTDIR"
;     File /r "staging\*.*"                       ; the program's files first
;     !insertmacro QORVAND_BUNDLE "app.json"       ; the generator, the stub and the manifest
;     !insertmacro QORVAND_UNINSTALLER "App" "Vendor" "1.0" "$INSTDIR\app.exe"
;   SectionEnd
;
; uninstpack.exe and uninst.exe are taken from QORVAND_DIR, by default the
; folder of this header (where "make install" puts all three); define it
; before the !include (or with makensis -DQORVAND_DIR=...) to take them from
; elsewhere. They go to the plug-ins folder, which the installer removes when
; it ends: nothing of them stays on the user's machine but the uninstaller.

!ifndef QORVAND_NSH
!define QORVAND_NSH

!include "LogicLib.nsh"

; Taken here, not inside a macro, where it would name the author's script.
!ifndef QORVAND_DIR
  !define QORVAND_DIR "${__FILEDIR__}"
!endif

; The generator that checks the manifest while makensis builds the installer,
; so that a mistake stops the build with the generator's own messages instead
; of a user's installation: uninstpack.exe where makensis runs on Windows, the
; Linux uninstpack beside it elsewhere (both are where "make install" puts them).
!ifndef QORVAND_CHECKER
  !ifdef NSIS_WIN32_MAKENSIS
    !define QORVAND_CHECKER "${QORVAND_DIR}\uninstpack.exe"
  !else
    !define QORVAND_CHECKER "${QORVAND_DIR}/uninstpack"
  !endif
!endif

; More arguments for the build on the user's machine, such as
; -D "Data=$APPDATA\Vendor" (NSIS variables are expanded there; no single quotes).
; $APPDATA, $LOCALAPPDATA and the generator's own ${AppData}, ${LocalAppData},
; ${Desktop}, ... name the folders of the account the installer runs as, which
; under elevation can be another user than the one who started it.
!ifndef QORVAND_DEFINES
  !define QORVAND_DEFINES ""
!endif

; Checks the manifest now, while makensis builds the installer (variables the
; installation gives are left for then), and puts uninstpack.exe, the stub
; beside it (where uninstpack looks for it) and the manifest into the plug-ins
; folder. In a section or function that runs
; before QORVAND_UNINSTALLER.
!macro QORVAND_BUNDLE MANIFEST
  !system '"${QORVAND_CHECKER}" check "${MANIFEST}" --quiet' = 0
  InitPluginsDir
  File "/oname=$PLUGINSDIR\uninstpack.exe" "${QORVAND_DIR}/uninstpack.exe"
  File "/oname=$PLUGINSDIR\uninst.exe" "${QORVAND_DIR}/uninst.exe"
  File "/oname=$PLUGINSDIR\qorvand.json" "${MANIFEST}"
!macroend

; Makes $INSTDIR\uninst.exe for the files now in $INSTDIR and lists the
; program in the system's list of installed programs under NAME; PUBLISHER,
; VERSION and ICON may be "". After the program's files are in place: the
; entry's size is what $INSTDIR holds then. The generator writes the
; uninstaller and the entry both or neither; when it fails, its message is
; shown (not in a silent install) and the installation aborts with exit
; status 2. Nothing about the machine's language is passed: uninstpack.exe
; writes in the machine's ANSI code page, and for "language": "auto" takes
; the system locale's table, asking Windows itself.
!macro QORVAND_UNINSTALLER NAME PUBLISHER VERSION ICON
  Push $0
  Push $1
  DetailPrint "Making the uninstaller: $INSTDIR\uninst.exe"
  nsExec::ExecToStack '"$PLUGINSDIR\uninstpack.exe" build "$PLUGINSDIR\qorvand.json" -o "$INSTDIR\uninst.exe" --install-dir "$INSTDIR" --list-as "${NAME}" --publisher "${PUBLISHER}" --version "${VERSION}" --icon "${ICON}" ${QORVAND_DEFINES}'
  Pop $0  ; exit status, or "error" when it could not be started
  Pop $1  ; what it wrote
  ${If} $0 != 0
    DetailPrint "$1"
    MessageBox MB_OK|MB_ICONSTOP "The uninstaller could not be made (status $0):$\r$\n$\r$\n$1" /SD IDOK
    Pop $1
    Pop $0
    SetErrorLevel 2
    Abort "The uninstaller could not be made."
  ${EndIf}
  Pop $1
  Pop $0
!macroend

!endif
