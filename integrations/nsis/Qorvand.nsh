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

; Puts uninstpack.exe, the stub beside it (where uninstpack looks for it) and
; the manifest into the plug-ins folder. In a section or function that runs
; before QORVAND_UNINSTALLER.
!macro QORVAND_BUNDLE MANIFEST
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
  nsExec::ExecToStack '"$PLUGINSDIR\uninstpack.exe" build "$PLUGINSDIR\qorvand.json" -o "$INSTDIR\uninst.exe" --install-dir "$INSTDIR" --list-as "${NAME}" --publisher "${PUBLISHER}" --version "${VERSION}" --icon "${ICON}"'
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
