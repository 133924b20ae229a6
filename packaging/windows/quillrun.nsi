; The Windows installer of quillrun, built by the target "installer" of the
; Windows build (cmake/packaging.cmake) with Debian's makensis:
;
;   makensis -DVERSION=X.Y.Z -DPUBLISHER=NAME -DSTAGE=DIR -DOUTFILE=SETUP.exe quillrun.nsi
;
; STAGE holds the files of the .zip package. The installer puts them into
; %ProgramFiles%\quillrun, offers to add that folder to the system PATH and
; registers the uninstaller in Programs and Features. It installs no
; configuration file: the mail server's \etc\tidewharf.ini stays its own,
; and of quillrun's own quillrun.ini only the sample, quillrun.ini.sample,
; so that a quillrun.ini written by the administrator is never overwritten.
;
; Silent: "setup.exe /S" installs with the PATH entry, "/S /NOPATH" without
; it, "/D=DIR" (last) into another folder; "uninstall.exe /S" removes it all.

!macro required NAME
  !ifndef ${NAME}
    !error "Pass -D${NAME}= (see the top of this file)"
  !endif
!macroend
!insertmacro required VERSION
!insertmacro required PUBLISHER
!insertmacro required STAGE
!insertmacro required OUTFILE

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh
!include StrFunc.nsh
!include WinMessages.nsh

; StrFunc wants each function declared once before use.
${StrStr}
${UnStrStr}
${UnStrRep}

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\quillrun"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "quillrun ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\quillrun"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
LicenseData "${STAGE}\LICENSE.txt"
; The MIT licence asks for no agreement: the page informs, its button goes on.
LicenseText "quillrun is free software under the MIT licence." "$(^NextBtn)"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "quillrun"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "quillrun ${VERSION} installer"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (c) ${PUBLISHER}, MIT licence"

Page license
Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "quillrun" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}\quillrun.exe"
  File "${STAGE}\mailq.exe"
  File "${STAGE}\newaliases.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\quillrun.8.txt"
  File "${STAGE}\quillrun.8.html"
  File "${STAGE}\tidewharf.ini.sample"
  File "${STAGE}\quillrun.ini.sample"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "quillrun"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Add the folder to the system PATH" SecPath
  Call AddToPath
SectionEnd

Function .onInit
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOPATH" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecPath}
  ${EndIf}
FunctionEnd

; Adds $INSTDIR to the system PATH unless it is there, and notes in the
; uninstall entry that it did, so that the uninstaller takes out only what
; the installer put in. NSIS strings hold 1024 characters: a longer PATH is
; left alone, with a note to add the folder by hand, rather than cut.
Function AddToPath
  ClearErrors
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrLen $1 "$0;$INSTDIR"
  ${If} ${Errors}
  ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "The system PATH is too long for this installer: add $INSTDIR to it by hand."
    MessageBox MB_ICONEXCLAMATION|MB_OK "The system PATH is too long for this installer to change.$\r$\nAdd $INSTDIR to it by hand." /SD IDOK
    Return
  ${EndIf}
  ${StrStr} $2 ";$0;" ";$INSTDIR;"
  ${StrStr} $3 ";$0;" ";$INSTDIR\;"
  ${If} $2 != ""
  ${OrIf} $3 != ""
    DetailPrint "$INSTDIR is in the system PATH already."
    Return
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 "$INSTDIR"
  ${Else}
    StrCpy $1 $0 1 -1
    ${If} $1 == ";"
      StrCpy $0 "$0$INSTDIR"
    ${Else}
      StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
  ${EndIf}
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  DetailPrint "Added $INSTDIR to the system PATH."
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Takes every entry $INSTDIR (with or without a final backslash) out of the
; system PATH.
Function un.RemoveFromPath
  ClearErrors
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  ${If} ${Errors}
    DetailPrint "The system PATH is too long for this uninstaller: take $INSTDIR out of it by hand."
    MessageBox MB_ICONEXCLAMATION|MB_OK "The system PATH is too long for this uninstaller to change.$\r$\nTake $INSTDIR out of it by hand." /SD IDOK
    Return
  ${EndIf}
  StrCpy $1 ";$0;"
  ${Do}
    ${UnStrStr} $2 $1 ";$INSTDIR;"
    ${UnStrStr} $3 $1 ";$INSTDIR\;"
    ${If} $2 == ""
    ${AndIf} $3 == ""
      ${ExitDo}
    ${EndIf}
    ${UnStrRep} $1 $1 ";$INSTDIR;" ";"
    ${UnStrRep} $1 $1 ";$INSTDIR\;" ";"
  ${Loop}
  ; Without the two semicolons added above.
  StrCpy $1 $1 "" 1
  StrCpy $1 $1 -1
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$1"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  DetailPrint "Took $INSTDIR out of the system PATH."
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    Call un.RemoveFromPath
  ${EndIf}
  Delete "$INSTDIR\quillrun.exe"
  Delete "$INSTDIR\mailq.exe"
  Delete "$INSTDIR\newaliases.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\quillrun.8.txt"
  Delete "$INSTDIR\quillrun.8.html"
  Delete "$INSTDIR\tidewharf.ini.sample"
  ; The sample only: a quillrun.ini made from it holds the administrator's
  ; settings and perhaps a password, and stays.
  Delete "$INSTDIR\quillrun.ini.sample"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: a quillrun.ini, or a quillrun.log or quillrun.debug
  ; written there by a run, is the administrator's.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
