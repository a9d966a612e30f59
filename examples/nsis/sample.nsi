; The demo's sample application, installed with NSIS; its uninstaller is made
; at install time in the folder the user chose.
; makensis [-DQORVAND_DIR=DIR] -DSAMPLE_FILES=DIR [-DOUTFILE=FILE] sample.nsi
; QORVAND_DIR holds uninstpack.exe and uninst.exe (by default the header's own
; folder, as in the release's zip: there makensis "-X!addincludedir ZIPFOLDER"
; is all it takes); SAMPLE_FILES the files to install
; (examples/sample/layout.sh --staging DIR); "make nsis-example" gives both.
Unicode true
!addincludedir "../../integrations/nsis"  ; makensis works in the script's folder
!include "Qorvand.nsh"
!include "MUI2.nsh"

!ifndef OUTFILE
  !define OUTFILE "qorvand-sample-setup.exe"
!endif

Name "Qorvand Sample"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Qorvand Sample"
RequestExecutionLevel admin
BrandingText "Qorvand Sample"
SetCompressor /SOLID lzma

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

Section
  SetOutPath "$INSTDIR"
  File /r "${SAMPLE_FILES}/*.*"
  WriteRegStr HKLM "Software\Qorvand Sample" "InstallDir" "$INSTDIR"
  !insertmacro QORVAND_BUNDLE "manifest.json"
  !insertmacro QORVAND_UNINSTALLER "Qorvand Sample" "Qorvand" "1.0" "$INSTDIR\sample.exe"
SectionEnd
