; Kestrova installer: puts kestrova.exe, UNZIP32.DLL and kvupdate.exe into Program Files\Kestrova,
; adds a Start-menu shortcut and an Add/Remove Programs entry whose uninstaller takes all of that away
; again. The user's settings under HKCU\Software\Kestrova are left alone.
;
; Built by scripts/package.sh with makensis; the defines it passes:
;   VERSION  the program's version text, e.g. 1.8.00
;   BINDIR   folder holding the three files
;   OUTFILE  the installer to write
;   BINDIR64 (optional) folder holding the 64-bit build of the three files: the installer then
;            carries both builds and puts the 64-bit one on 64-bit Windows (Program Files, the
;            64-bit registry view), the 32-bit one elsewhere. This is the shipped installer.
;   X64      (optional) the 64-bit flavour: 64-bit stub, 64-bit Program Files and registry view, the
;            files of BINDIR only. It lets the same script be exercised on machines that cannot run
;            32-bit programs.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION
  !error "VERSION must be defined (see scripts/package.sh)"
!endif
!ifndef BINDIR
  !error "BINDIR must be defined (see scripts/package.sh)"
!endif
!ifndef OUTFILE
  !error "OUTFILE must be defined (see scripts/package.sh)"
!endif

!ifdef X64
  !ifdef BINDIR64
    !error "BINDIR64 goes with the 32-bit installer, which carries both builds"
  !endif
  Target amd64-unicode
  !define PROGRAM_FILES "$PROGRAMFILES64"
!else
  Target x86-unicode
  !define PROGRAM_FILES "$PROGRAMFILES"
!endif

!define PRODUCT "Kestrova"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SETTINGS_KEY "Software\${PRODUCT}"
!define SENDTO_TIP "Queue archives in ${PRODUCT}: ZIP, 7z, RAR, tar (.tar.gz, .tgz, .tar.bz2, .tbz2, .tbz, .tar.xz, .txz, .tar.zst, .tzst), .gz, .bz2, .xz, .zst, .lzma, CAB and ISO, and split sets (.7z.001, .zip.001, .part1.rar, .zip with .z01)"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FILES}\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define MUI_ICON "${__FILEDIR__}\..\resources\kestrova\icon156.ico"
!define MUI_UNICON "${__FILEDIR__}\..\resources\kestrova\icon156.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\kestrova.exe"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PRODUCT}"

Function .onInit
  ; The Start-menu entry is for every user of the machine, like the Program Files folder.
  SetShellVarContext all
!ifdef X64
  SetRegView 64
!endif
!ifdef BINDIR64
  ${If} ${RunningX64}
    SetRegView 64
    ; The 64-bit programs belong in the 64-bit Program Files, unless the user named a folder (/D).
    ${If} $INSTDIR == "$PROGRAMFILES\${PRODUCT}"
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
  ${EndIf}
!endif
FunctionEnd

Function un.onInit
  SetShellVarContext all
!ifdef X64
  SetRegView 64
!endif
!ifdef BINDIR64
  ; This uninstaller was written by the installer that put the 64-bit programs on 64-bit Windows.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!endif
FunctionEnd

!ifdef BINDIR64
; An earlier 32-bit installation on 64-bit Windows (Program Files (x86), the 32-bit view) is
; uninstalled first, silently, so the machine keeps one Kestrova and one entry in Add/Remove
; Programs. The user's settings are not touched by that uninstaller either.
Function RemoveEarlier32BitInstallation
  SetRegView 32
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  SetRegView 64
  ${If} $1 != ""
  ${AndIf} $1 != $INSTDIR
  ${AndIf} ${FileExists} "$1\uninstall.exe"
    DetailPrint "Removing the 32-bit installation in $1"
    ExecWait '"$1\uninstall.exe" /S _?=$1'
    Delete "$1\uninstall.exe"
    RMDir "$1"
  ${EndIf}
FunctionEnd
!endif

Section "Kestrova" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
!ifdef BINDIR64
  ${If} ${RunningX64}
    Call RemoveEarlier32BitInstallation
    SetOutPath "$INSTDIR"
    File "${BINDIR64}\kestrova.exe"
    File "${BINDIR64}\UNZIP32.DLL"
    File "${BINDIR64}\kvupdate.exe"
  ${Else}
    File "${BINDIR}\kestrova.exe"
    File "${BINDIR}\UNZIP32.DLL"
    File "${BINDIR}\kvupdate.exe"
  ${EndIf}
!else
  File "${BINDIR}\kestrova.exe"
  File "${BINDIR}\UNZIP32.DLL"
  File "${BINDIR}\kvupdate.exe"
!endif
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\kestrova.exe" "" "$INSTDIR\kestrova.exe" 0
  ; Explorer's "Send To" menu hands the selected archives and folders to the queue (the program
  ; takes them as its arguments); its tip names the kinds it takes. The menu belongs to the user who
  ; installs.
  SetShellVarContext current
  CreateShortCut "$SENDTO\${PRODUCT}.lnk" "$INSTDIR\kestrova.exe" "" "$INSTDIR\kestrova.exe" 0 "" "" \
      "${SENDTO_TIP}"
  SetShellVarContext all

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrova.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Size in KiB, as Add/Remove Programs shows it.
  SectionGetSize ${SecProgram} $0
!ifdef BINDIR64
  ; The section holds both builds; one of them is installed.
  IntOp $0 $0 / 2
!endif
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\kestrova.exe"
  Delete "$INSTDIR\UNZIP32.DLL"
  Delete "$INSTDIR\kvupdate.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Only our own files are removed: a folder that still holds something of the user's stays.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  SetShellVarContext current
  Delete "$SENDTO\${PRODUCT}.lnk"
  SetShellVarContext all
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; ${SETTINGS_KEY} under HKCU is the user's: it survives, so a reinstall keeps the settings.
SectionEnd
