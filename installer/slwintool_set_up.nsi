; The setup program of ソルベリオ Windows Tool: installs the three programs and
; Uninstall.exe per machine, adds the Start-menu shortcut and the entry in
; Programs and Features, and upgrades an installation in place. Built on
; Linux with makensis:
;
;   makensis -DVERSION=A.B.C.D -DPROGRAMS=DIR -DOUTFILE=FILE [-DTARGET_AMD64] slwintool_set_up.nsi
;
; PROGRAMS is the folder with the three built programs. TARGET_AMD64 builds
; the same setup as a 64-bit program, for hosts whose Wine cannot start
; 32-bit programs (tests only); the shipped setup program is 32-bit.
;
; CODESIGN (release command, Authenticode): a program that signs the PE file
; it is given in place; it signs the uninstaller as makensis writes it into
; the setup program, then the setup program itself.
;
; Command line: /S silent; /UPDATESITE=URL writes a url.ini naming that
; version-file URL when the folder has none; /D=FOLDER (last, unquoted).
Unicode true
!ifdef TARGET_AMD64
  Target amd64-unicode
!endif

!ifndef VERSION
  !error "define VERSION (A.B.C.D): the product version of the programs"
!endif
!ifndef PROGRAMS
  !error "define PROGRAMS: the folder with the three programs"
!endif
!ifndef OUTFILE
  !define OUTFILE "slwintool_set_up.exe"
!endif

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "ソルベリオ Windows Tool"
!define PUBLISHER "Solberio"
!define FINDER_EXE "ソルベリオ Windows Tool.exe"
!define UPDATER_EXE "Updater.exe"
!define QUENLOW_EXE "Quenlow.exe"
!define UNINSTALLER "Uninstall.exe"
; Where the Updater downloads before it moves a complete installer into place.
!define PARTIAL_DOWNLOAD "Updater.download"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\SolberioWindowsTool"
; The finder's main window: its caption ends in an ideographic space.
!define FINDER_WINDOW "${PRODUCT}　"
; Half-second steps of the wait for the finder to end: about 30 s.
!define WAIT_STEPS 60
; The inbound firewall rule that lets the devices' answers reach the finder.
!define FIREWALL_RULE "${PRODUCT}"
; Access to the folder when it is not below Program Files, as there: the
; Administrators and SYSTEM full control, Users read and execute (well-known
; SIDs, the same on every language of Windows), nothing inherited from the
; drive, whose root lets Authenticated Users modify.
!define FOLDER_ACCESS '/inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} セットアップ"
UninstallCaption "${PRODUCT} アンインストール"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\${PRODUCT}"
; Over an existing installation, its folder is proposed.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
; Sharp pages at every display scale, and the Windows versions it runs on,
; like the programs' own manifests.
ManifestDPIAware true
ManifestSupportedOS all
!ifdef CODESIGN
  !uninstfinalize '"${CODESIGN}" "%1"' = 0
  !finalize '"${CODESIGN}" "%1"' = 0
!endif
SetCompressor /SOLID lzma
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "${PRODUCT} ${VERSION} のセットアップへようこそ"
!define MUI_WELCOMEPAGE_TEXT "ネットワーク上のソルベリオ ストレージを見つけ、設定画面を開くツールをインストールします。$\r$\n$\r$\nインストールを始める前に、${PRODUCT} を終了してください。$\r$\n$\r$\n続けるには [次へ] をクリックしてください。"
!define MUI_FINISHPAGE_TITLE "${PRODUCT} のセットアップが完了しました"
!define MUI_FINISHPAGE_TEXT "スタート メニューの「${PRODUCT}」から起動できます。$\r$\n$\r$\n[完了] をクリックしてセットアップを閉じてください。"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "${PRODUCT} セットアップ"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "InternalName" "slwintool_set_up"
VIAddVersionKey /LANG=${LANG_JAPANESE} "OriginalFilename" "slwintool_set_up.exe"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "${PUBLISHER}"

; The value of /UPDATESITE=, read from the command line itself: FileFunc's
; GetOptions would end it at the first "/" of the URL.
Var UpdateSite
; The programs that cannot be replaced now, one per line.
Var ProgramsInUse

; Runs a program of System32 hidden, waits for it and writes a failure
; (its exit code and output) to the details; the setup goes on either way.
; A 32-bit setup program on 64-bit Windows reaches SysWOW64's copy of the
; same tool, which changes the same machine-wide settings.
!macro RunSystemTool TOOL ARGS
  nsExec::ExecToStack /TIMEOUT=60000 '"$SYSDIR\${TOOL}" ${ARGS}'
  Pop $R0
  Pop $R1
  ${If} $R0 != 0
    DetailPrint "${TOOL} ($R0): $R1"
  ${EndIf}
!macroend

!macro DeleteFirewallRule
  !insertmacro RunSystemTool "netsh.exe" 'advfirewall firewall delete rule name="${FIREWALL_RULE}"'
!macroend

Function .onInit
  SetShellVarContext all
  StrCpy $UpdateSite ""
  StrLen $R1 $CMDLINE
  StrCpy $R0 0
  ${DoWhile} $R0 < $R1
    StrCpy $R2 $CMDLINE 12 $R0
    ${If} $R2 == "/UPDATESITE="
      IntOp $R0 $R0 + 12
      StrCpy $R3 $R0
      ${Do}
        StrCpy $R2 $CMDLINE 1 $R0
        ${If} $R2 == ""
        ${OrIf} $R2 == " "
        ${OrIf} $R2 == '"'
          ${ExitDo}
        ${EndIf}
        IntOp $R0 $R0 + 1
      ${Loop}
      IntOp $R4 $R0 - $R3
      StrCpy $UpdateSite $CMDLINE $R4 $R3
      ${ExitDo}
    ${EndIf}
    IntOp $R0 $R0 + 1
  ${Loop}
FunctionEnd

; Adds the program to $ProgramsInUse when it exists and cannot be opened for
; writing (a running program's file cannot).
!macro CheckReplaceable NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    FileOpen $R5 "$INSTDIR\${NAME}" a
    ${If} ${Errors}
      StrCpy $ProgramsInUse "$ProgramsInUse$\r$\n${NAME}"
    ${Else}
      FileClose $R5
    ${EndIf}
  ${EndIf}
!macroend

; Waits, bounded, until every program of the folder can be replaced. Started
; by the finder after Yes on its offer, the setup runs while the finder is
; still closing, so it also waits for the finder's window; the uninstaller
; waits for this folder's programs only.
!macro WaitUntilReplaceable UN
Function ${UN}WaitUntilReplaceable
  StrCpy $R6 0
  ${Do}
    StrCpy $ProgramsInUse ""
    !if "${UN}" == ""
      System::Call 'user32::FindWindowW(p 0, w "${FINDER_WINDOW}") p .R7'
    !else
      StrCpy $R7 0
    !endif
    ${If} $R7 P<> 0
      StrCpy $ProgramsInUse "$\r$\n${FINDER_EXE}"
    ${Else}
      !insertmacro CheckReplaceable "${FINDER_EXE}"
      !insertmacro CheckReplaceable "${UPDATER_EXE}"
      !insertmacro CheckReplaceable "${QUENLOW_EXE}"
    ${EndIf}
    ${If} $ProgramsInUse == ""
    ${OrIf} $R6 >= ${WAIT_STEPS}
      ${ExitDo}
    ${EndIf}
    Sleep 500
    IntOp $R6 $R6 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro WaitUntilReplaceable ""
!insertmacro WaitUntilReplaceable "un."

; Pushes 1 when $INSTDIR lies below one of the Program Files folders, else 0.
!macro IsBelow PARENT
  StrLen $R1 "${PARENT}"
  StrCpy $R2 "$INSTDIR" $R1
  StrCpy $R3 "$INSTDIR" 1 $R1
  ; == ignores case, as Windows paths do.
  ${If} $R1 > 0
  ${AndIf} $R2 == "${PARENT}"
  ${AndIf} $R3 == "\"
    StrCpy $R0 1
  ${EndIf}
!macroend
Function IsBelowProgramFiles
  StrCpy $R0 0
  !insertmacro IsBelow "$PROGRAMFILES32"
  !insertmacro IsBelow "$PROGRAMFILES64"
  Push $R0
FunctionEnd

Section "Install"
  SetShellVarContext all
  ; Nothing is replaced unless everything can be: never a mixed set of
  ; old and new programs.
  ${Do}
    Call WaitUntilReplaceable
    ${If} $ProgramsInUse == ""
      ${ExitDo}
    ${EndIf}
    DetailPrint "使用中のプログラム:$ProgramsInUse"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "次のプログラムが使用中のため、更新できません。$ProgramsInUse$\r$\n$\r$\n${PRODUCT} を終了してから [再試行] をクリックしてください。[キャンセル] をクリックするとセットアップを中止します。" /SD IDCANCEL IDRETRY +2
    Abort "使用中のプログラムがあるため、セットアップを中止しました。"
  ${Loop}

  SetOutPath "$INSTDIR"
  ; Below Program Files only administrators may write; elsewhere the folder
  ; is given the same access before anything is copied into it, so that no
  ; other user can put a program or DLL beside the elevated programs.
  Call IsBelowProgramFiles
  Pop $R0
  ${If} $R0 != 1
    !insertmacro RunSystemTool "icacls.exe" '"$INSTDIR" ${FOLDER_ACCESS}'
  ${EndIf}
  SetOverwrite on
  File "${PROGRAMS}/${FINDER_EXE}"
  File "${PROGRAMS}/${UPDATER_EXE}"
  File "${PROGRAMS}/${QUENLOW_EXE}"
  ; profile.ini, search.ini, devices.ini and url.ini are the user's: never written over. A url.ini
  ; of /UPDATESITE= is only made where none exists.
  ${If} $UpdateSite != ""
  ${AndIfNot} ${FileExists} "$INSTDIR\url.ini"
    FileOpen $R0 "$INSTDIR\url.ini" w
    FileWrite $R0 "[URL]$\r$\nUpdateSiteURL=$UpdateSite$\r$\n"
    FileClose $R0
  ${EndIf}
  ; One rule of this name: an upgrade replaces the one it finds.
  !insertmacro DeleteFirewallRule
  !insertmacro RunSystemTool "netsh.exe" 'advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\${FINDER_EXE}" protocol=UDP profile=any enable=yes'
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\${FINDER_EXE}"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${FINDER_EXE}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  IntFmt $R0 "0x%08X" $R0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$R0"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ; Leave the folder, so that nothing holds it.
  SetOutPath "$TEMP"
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Function un.RunQuenlow
  ${If} ${FileExists} "$INSTDIR\${QUENLOW_EXE}"
  ${AndIf} ${FileExists} "$INSTDIR\profile.ini"
    nsExec::Exec /TIMEOUT=30000 '"$INSTDIR\${QUENLOW_EXE}"'
    Pop $R0
    DetailPrint "${QUENLOW_EXE}: $R0"
  ${EndIf}
FunctionEnd

; Deletes a program of the folder; one that stays is added to $ProgramsInUse.
!macro un.DeleteProgram NAME
  Delete "$INSTDIR\${NAME}"
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    StrCpy $ProgramsInUse "$ProgramsInUse$\r$\n${NAME}"
  ${EndIf}
!macroend

; For each dialog window titled TITLE whose process runs $INSTDIR\EXE:
; calls ACTION (R7 the window, R9 the process, opened to query, end and wait
; for), sets R4 to FOUND and waits up to 30 s for that process to end.
!macro un.ForEachProgramWindow TITLE EXE ACTION FOUND
  StrCpy $R7 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p R7, w "#32770", w "${TITLE}") p .R7'
    ${If} $R7 P= 0
      ${ExitDo}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p R7, *i .R8)'
    ; PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE
    System::Call 'kernel32::OpenProcess(i 0x101001, i 0, i R8) p .R9'
    ${If} $R9 P<> 0
      System::Call 'kernel32::QueryFullProcessImageNameW(p R9, i 0, w .R5, *i ${NSIS_MAX_STRLEN}) i .R3'
      ${If} $R3 <> 0
      ${AndIf} $R5 == "$INSTDIR\${EXE}"
        StrCpy $R4 ${FOUND}
        System::Call '${ACTION}'
        System::Call 'kernel32::WaitForSingleObject(p R9, i 30000)'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p R9)'
    ${EndIf}
  ${Loop}
!macroend

; Asks this folder's running finder to close, as a user would, and ends its
; running Updater, whose download is made in Updater.download and moved onto
; the installer's name only when complete: ended at any moment, it leaves the
; installer as it was. Pushes 1 when an Updater was ended, else 0.
Function un.EndRunningPrograms
  StrCpy $R4 0
  ; WM_CLOSE to the finder's window.
  !insertmacro un.ForEachProgramWindow "${FINDER_WINDOW}" "${FINDER_EXE}" "user32::PostMessageW(p R7, i 0x0010, p 0, p 0)" $R4
  !insertmacro un.ForEachProgramWindow "Updater" "${UPDATER_EXE}" "kernel32::TerminateProcess(p R9, i 1)" 1
  Push $R4
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Quenlow first: it resets the recorded download, so that an installer
  ; left in the folder is deleted at a later start after a reinstall. A
  ; missing Quenlow does not stop the removal; a hanging one is ended.
  ; Without a profile.ini there is nothing to reset, and a profile made by
  ; Quenlow alone would keep url.ini from taking effect at a reinstall.
  Call un.RunQuenlow
  ; A running program's file cannot be deleted: the programs are ended
  ; first, and the entry in Programs and Features stays until they are gone.
  ${Do}
    Call un.EndRunningPrograms
    Pop $R0
    ${If} $R0 == 1
      ; A download that ended just before is not recorded either.
      Call un.RunQuenlow
    ${EndIf}
    Call un.WaitUntilReplaceable
    StrCpy $ProgramsInUse ""
    !insertmacro un.DeleteProgram "${FINDER_EXE}"
    !insertmacro un.DeleteProgram "${UPDATER_EXE}"
    !insertmacro un.DeleteProgram "${QUENLOW_EXE}"
    ${If} $ProgramsInUse == ""
      ${ExitDo}
    ${EndIf}
    DetailPrint "使用中のプログラム:$ProgramsInUse"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "次のプログラムが使用中のため、削除できません。$ProgramsInUse$\r$\n$\r$\n${PRODUCT} を終了してから [再試行] をクリックしてください。[キャンセル] をクリックするとアンインストールを中止します。" /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Abort "使用中のプログラムがあるため、アンインストールを中止しました。"
    retry:
  ${Loop}
  Delete "$INSTDIR\${PARTIAL_DOWNLOAD}"
  Delete "${SHORTCUT}"
  !insertmacro DeleteFirewallRule
  DeleteRegKey HKLM "${UNINST_KEY}"
  ; Kept: profile.ini, search.ini, devices.ini, url.ini, slwintool.log and a
  ; downloaded installer with the latestversion.ini kept beside it.
  ; The folder goes only when nothing else is left in it.
  Delete "$INSTDIR\${UNINSTALLER}"
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
SectionEnd
