; The client's installer: kestrun.exe into Program Files\Kestrun, a Start-menu shortcut
; and an uninstaller listed under Add/Remove Programs. /S installs and uninstalls silently.
; Defined by the build: VERSION, CLIENT_EXE, ICON, OUTFILE, and WIN64 for the 64-bit client.
; The installer is built for the client's own architecture: a 64-bit client comes in a
; 64-bit installer, which writes the 64-bit Program Files and registry view natively.
!ifdef WIN64
Target amd64-unicode
!else
Target x86-unicode
!endif
SetCompressor /SOLID lzma
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrun"

Name "Kestrun"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\Kestrun"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Kestrun"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Kestrun Setup"
VIAddVersionKey "CompanyName" "Kestrun"
VIAddVersionKey "LegalCopyright" "Kestrun"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro UseMachineView
  SetShellVarContext all
!macroend

Section "Kestrun"
  !insertmacro UseMachineView
  SetOutPath "$INSTDIR"
  File "/oname=kestrun.exe" "${CLIENT_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Kestrun.lnk" "$INSTDIR\kestrun.exe" "" "$INSTDIR\kestrun.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kestrun"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kestrun"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrun.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  !insertmacro UseMachineView
  Delete "$SMPROGRAMS\Kestrun.lnk"
  Delete "$INSTDIR\kestrun.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
