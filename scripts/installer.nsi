; The French installer of the 64-bit program. scripts/release.sh builds it
; with makensis -INPUTCHARSET UTF8, giving VERSION, VERSION_NUMBERS (four
; numbers), FILES (the folder of the win64 zip), PICTURES (res/) and OUTFILE.
; 32-bit Windows users take the win32 zip.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Calbrune"
!define PUBLISHER "Les développeurs de Calbrune"

Name "Calbrune ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Calbrune"
BrandingText "Calbrune ${VERSION}"

VIProductVersion "${VERSION_NUMBERS}"
VIAddVersionKey /LANG=1036 "ProductName" "Calbrune"
VIAddVersionKey /LANG=1036 "FileDescription" "Installation de Calbrune ${VERSION}"
VIAddVersionKey /LANG=1036 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "LegalCopyright" "© 2026 ${PUBLISHER}, licence MIT"

!define MUI_ICON "${PICTURES}/calbrune.ico"
!define MUI_UNICON "${PICTURES}/calbrune.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${PICTURES}/watermark.bmp"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
; Both licences grant rights and ask for no agreement: Next, not "I accept".
!define MUI_PAGE_HEADER_TEXT "Licences"
!define MUI_PAGE_HEADER_SUBTEXT "Calbrune est un logiciel libre, sous licence MIT."
!define MUI_LICENSEPAGE_TEXT_TOP "Licence de Calbrune (fichier LICENCE.txt) :"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Cliquez sur Suivant pour continuer."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${FILES}/LICENCE.txt"
!define MUI_PAGE_HEADER_TEXT "Licences"
!define MUI_PAGE_HEADER_SUBTEXT "L'encodeur MP3 lame_enc.dll (LAME) est sous licence GNU LGPL."
!define MUI_LICENSEPAGE_TEXT_TOP "Licence de lame_enc.dll (fichier LAME-COPYING.txt) :"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Ses sources sont publiées avec celles de Calbrune. Cliquez sur Suivant pour continuer."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${FILES}/LAME-COPYING.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; No "start Calbrune" box: started from here it would run elevated, as the
; installer does, and Windows refuses files dragged onto an elevated window.
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\LISEZMOI.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Lire le fichier LISEZMOI.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "French"

Section "Calbrune" Program
  SetOutPath "$INSTDIR"
  File "${FILES}/calbrune.exe"
  File "${FILES}/lame_enc.dll"
  File "${FILES}/LISEZMOI.txt"
  File "${FILES}/LICENCE.txt"
  File "${FILES}/LAME-COPYING.txt"
  WriteUninstaller "$INSTDIR\desinstaller.exe"

  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\Calbrune.lnk" "$INSTDIR\calbrune.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Calbrune"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\calbrune.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\desinstaller.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\desinstaller.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${Program} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Only the files installed, by name: the folder may hold MP3 files a user
; put there, and RMDir without /r leaves a folder that is not empty.
Section "Uninstall"
  Delete "$INSTDIR\calbrune.exe"
  Delete "$INSTDIR\lame_enc.dll"
  Delete "$INSTDIR\LISEZMOI.txt"
  Delete "$INSTDIR\LICENCE.txt"
  Delete "$INSTDIR\LAME-COPYING.txt"
  Delete "$INSTDIR\desinstaller.exe"
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\Calbrune.lnk"
  ; Last, so that its absence says the uninstaller is done.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
