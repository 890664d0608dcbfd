; The Windows installer: PLIX-<version>-setup.exe, made by
; scripts/build_windows.sh with makensis. A 64-bit program for 64-bit
; Windows; it installs the 64-bit pieces into the folder and the 32-bit ones
; into its x86 subfolder, registering plixwic.dll in both registry views.
;
; makensis -DVERSION=0.8.0 -DWIN64=build-win64/bin -DWIN32=build-win32/bin
;          -DLICENSE=LICENSE -DOUTFILE=build-windows/PLIX-0.8.0-setup.exe plix-setup.nsi
;
; Silent: setup.exe /S [/D=C:\folder]; uninstall.exe /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define PRODUCT "PLIX"
!define PUBLISHER "PLIX developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PLIX"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\PLIX"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "BSD-3-Clause"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Stops with a message, or with exit status 2 in silent mode.
!macro Fail text
  SetErrorLevel 2
  IfSilent +2
  MessageBox MB_ICONSTOP|MB_OK "${text}"
  Abort "${text}"
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    !insertmacro Fail "PLIX ${VERSION} needs 64-bit Windows."
  ${EndIf}
  SetRegView 64
FunctionEnd

Section "PLIX" main
  SetOutPath "$INSTDIR"
  File "${WIN64}\plixconv.exe"
  File "${WIN64}\PLIX.dll"
  File "${WIN64}\plixcodec.dll"
  File "${WIN64}\plixwic.dll"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The uninstall entry first, so that a failed registration can be undone
  ; from Programs and Features.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\plixconv.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; 64-bit: in this process.
  ClearErrors
  RegDLL "$INSTDIR\plixwic.dll"
  ${If} ${Errors}
    !insertmacro Fail "plixwic.dll could not be registered."
  ${EndIf}

  ; 32-bit programs (and their registry view) exist only where Windows has
  ; its 32-bit subsystem, which Server Core may lack.
  ${If} ${FileExists} "$WINDIR\SysWOW64\regsvr32.exe"
    SetOutPath "$INSTDIR\x86"
    File "${WIN32}\plixconv.exe"
    File "${WIN32}\PLIX.dll"
    File "${WIN32}\plixcodec.dll"
    File "${WIN32}\plixwic.dll"
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /s "$INSTDIR\x86\plixwic.dll"' $0
    ${If} $0 != 0
      !insertmacro Fail "The 32-bit plixwic.dll could not be registered ($0)."
    ${EndIf}
  ${Else}
    DetailPrint "No 32-bit subsystem: the 32-bit pieces are not installed."
  ${EndIf}
  SetOutPath "$INSTDIR"

  ; The size Programs and Features shows, in KiB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  ${If} ${FileExists} "$INSTDIR\x86\plixwic.dll"
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /u /s "$INSTDIR\x86\plixwic.dll"'
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\plixwic.dll"
    UnRegDLL "$INSTDIR\plixwic.dll"
  ${EndIf}
  ; A DLL that a program still holds (Explorer's thumbnails) goes at the
  ; next restart.
  !macro RemovePieces dir
    Delete /REBOOTOK "${dir}\plixconv.exe"
    Delete /REBOOTOK "${dir}\PLIX.dll"
    Delete /REBOOTOK "${dir}\plixcodec.dll"
    Delete /REBOOTOK "${dir}\plixwic.dll"
  !macroend
  !insertmacro RemovePieces "$INSTDIR\x86"
  RMDir "$INSTDIR\x86"
  !insertmacro RemovePieces "$INSTDIR"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
