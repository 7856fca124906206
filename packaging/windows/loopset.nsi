; The 64-bit installer: the programs and the port library under Program
; Files, a Start-menu entry, and an uninstaller that removes exactly what
; was installed. makensis gets VERSION and STAGE (the folder with the files).
; A 64-bit installer for 64-bit programs: it starts only where they run.
Target amd64-unicode

!ifndef VERSION
  !error "makensis -DVERSION=x.y.z -DSTAGE=folder -DOUTFILE=file loopset.nsi"
!endif

Name "loopset ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\loopset"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "loopset"
VIAddVersionKey "FileDescription" "loopset installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "All rights reserved"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\loopset"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "loopset"
  ; The Start-menu entry is for every user of the machine, as the programs are.
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/loopset.exe"
  File "${STAGE}/loopctl.exe"
  File "${STAGE}/portlink.dll"
  File "${STAGE}/portlink.h"
  File "${STAGE}/README.txt"
  ; The mark of an installed copy: its settings go to each user's %APPDATA%,
  ; even for an administrator, who could write here. An unpacked zip has no
  ; mark and keeps config.ini beside the programs.
  FileOpen $0 "$INSTDIR\loopset-installed.txt" w
  FileWrite $0 "Installed by the loopset installer: settings live in %APPDATA%\loopset\config.ini.$\r$\n"
  FileClose $0
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\loopset"
  CreateShortcut "$SMPROGRAMS\loopset\loopset.lnk" "$INSTDIR\loopset.exe"
  CreateShortcut "$SMPROGRAMS\loopset\Uninstall loopset.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "loopset"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\loopset.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; What the installer put there, by name: never the whole folder, which
  ; may hold the operator's own files.
  Delete "$INSTDIR\loopset.exe"
  Delete "$INSTDIR\loopctl.exe"
  Delete "$INSTDIR\portlink.dll"
  Delete "$INSTDIR\portlink.h"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\loopset-installed.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\loopset\loopset.lnk"
  Delete "$SMPROGRAMS\loopset\Uninstall loopset.lnk"
  RMDir "$SMPROGRAMS\loopset"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
