; Installer of the KVP_LineView plug-in. scripts/release builds it with makensis:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.04 -DVERSION_NUMERIC=1.0.4.0 -DSTAGE=<folder> -DOUTFILE=<exe> installer.nsi
; STAGE holds the files of the zip: KVP_LineView.dll and the KVP_LineView-*.txt texts.
; Silent: setup.exe /S /D=C:\folder (last, unquoted); uninstall.exe /S keeps the settings.
; Exit statuses besides NSIS's own 1 (cancelled): 2 the viewer holds the DLL, 3 Windows older
; than 7, 4 a newer version is installed, 5 the copy in another folder could not be removed.

Unicode true
!ifdef AMD64
  ; Only for testing the script where 32-bit programs cannot run: the released installer is x86.
  Target amd64-unicode
!endif
SetCompressor /SOLID lzma
; No file times in the installer: two builds of one commit give the same file.
SetDateSave off
ManifestDPIAware true
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include WinVer.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include WinMessages.nsh

!define PRODUCT "KVP_LineView"
!define DLL "KVP_LineView.dll"
!define SETTINGS "KVP_LineView.ini"
!define UNINSTALLER "KVP_LineView-uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KVP_LineView"
!define PRODUCT_KEY "Software\Kestrova\KVP_LineView"
!define MAKER_KEY "Software\Kestrova"
!define COPYRIGHT "Copyright (c) 2026 KVP_LineView developers"
; Everything the install writes into the shared plug-in folder besides the uninstaller and the
; settings file; the uninstaller deletes exactly these.
!macro ForEachInstalledFile do
  !insertmacro ${do} "${DLL}"
  !insertmacro ${do} "KVP_LineView-README-ru.txt"
  !insertmacro ${do} "KVP_LineView-README-en.txt"
  !insertmacro ${do} "KVP_LineView-LICENSE.txt"
  !insertmacro ${do} "KVP_LineView-THIRD-PARTY-NOTICES.txt"
  !insertmacro ${do} "KVP_LineView-CHANGES.txt"
!macroend
!macro InstallFile name
  File "${STAGE}\${name}"
!macroend
!macro DeleteFile name
  Delete "$INSTDIR\${name}"
!macroend

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; The viewer's plug-in folder; the directory page offers it and a Browse button.
!ifdef AMD64
  InstallDir "$PROGRAMFILES64\Kestrova\Plugins"
!else
  InstallDir "$PROGRAMFILES\Kestrova\Plugins"
!endif
InstallDirRegKey HKLM "${PRODUCT_KEY}" "InstallDir"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_NUMERIC}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=0 "CompanyName" "KVP_LineView developers"
VIAddVersionKey /LANG=0 "LegalCopyright" "${COPYRIGHT}"

!define MUI_ABORTWARNING
; The chosen language is remembered for the uninstaller.
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${PRODUCT_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Language"

!define MUI_DIRECTORYPAGE_TEXT_TOP "$(DirText)"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\$(ReadmeFile)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "$(KeepSettingsText)"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.HideSpaceRequired
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

; Russian first: the plug-in's window speaks Russian, and so do most of its users.
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_RESERVEFILE_LANGDLL

LangString DirText ${LANG_RUSSIAN} "Выберите папку плагинов программы просмотра: KVP_LineView.dll будет установлен в неё."
LangString DirText ${LANG_ENGLISH} "Choose the viewer's plug-in folder: KVP_LineView.dll will be installed there."
LangString OldWindows ${LANG_RUSSIAN} "Для KVP_LineView нужна Windows 7 или новее."
LangString OldWindows ${LANG_ENGLISH} "KVP_LineView needs Windows 7 or later."
LangString DllInUse ${LANG_RUSSIAN} "$0 занят: его держит запущенная программа просмотра.$\r$\nЗакройте её и нажмите «Повтор»."
LangString DllInUse ${LANG_ENGLISH} "$0 is in use by the running viewer.$\r$\nClose the viewer and press Retry."
LangString RemoveSettings ${LANG_RUSSIAN} "Удалить настройки"
LangString RemoveSettings ${LANG_ENGLISH} "Remove settings"
LangString KeepSettingsText ${LANG_RUSSIAN} "Файл настроек KVP_LineView.ini останется для следующей версии, если не отметить «Удалить настройки»."
LangString KeepSettingsText ${LANG_ENGLISH} "The settings file KVP_LineView.ini stays for the next version unless you tick $\"Remove settings$\"."
LangString ReadmeFile ${LANG_RUSSIAN} "KVP_LineView-README-ru.txt"
LangString ReadmeFile ${LANG_ENGLISH} "KVP_LineView-README-en.txt"
LangString FinishText ${LANG_RUSSIAN} "KVP_LineView установлен в $INSTDIR.$\r$\n$\r$\nПерезапустите программу просмотра и откройте окно анализатора из её меню плагинов: KVP_LineView."
LangString FinishText ${LANG_ENGLISH} "KVP_LineView is installed in $INSTDIR.$\r$\n$\r$\nRestart the viewer, then open the analyser's window from its plug-in menu: KVP_LineView."
LangString OtherFolder ${LANG_RUSSIAN} "KVP_LineView $R1 уже установлен в другую папку:$\r$\n$R0$\r$\n$\r$\nУдалить его оттуда и установить сюда? («Нет»: выбрать другую папку.)"
LangString OtherFolder ${LANG_ENGLISH} "KVP_LineView $R1 is already installed in another folder:$\r$\n$R0$\r$\n$\r$\nRemove it from there and install here? (No: choose another folder.)"
LangString OtherNotRemoved ${LANG_RUSSIAN} "Не удалось удалить KVP_LineView из $R0. Закройте программу просмотра и попробуйте снова."
LangString OtherNotRemoved ${LANG_ENGLISH} "KVP_LineView could not be removed from $R0. Close the viewer and try again."
LangString Downgrade ${LANG_RUSSIAN} "Установлена более новая версия KVP_LineView: $R1. Заменить её версией ${VERSION}?"
LangString Downgrade ${LANG_ENGLISH} "A newer KVP_LineView is installed: $R1. Replace it with version ${VERSION}?"
LangString NoUsersAccess ${LANG_RUSSIAN} "Не удалось разрешить пользователям запись в $0: настройки сохранит только администратор."
LangString NoUsersAccess ${LANG_ENGLISH} "Could not let users write $0: only an administrator's settings will be saved."

; Waits until the DLL in the folder can be written, asking the user to close the viewer that
; holds it. Cancel (and any silent run) stops without touching the installed files.
!macro WaitForFreeDll un
Function ${un}WaitForFreeDll
  StrCpy $0 "$INSTDIR\${DLL}"
  ${IfNot} ${FileExists} $0
    Return
  ${EndIf}
  ${Do}
    ClearErrors
    FileOpen $1 $0 a
    ${IfNot} ${Errors}
      FileClose $1
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(DllInUse)" /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro WaitForFreeDll ""
!insertmacro WaitForFreeDll "un."

Function .onInit
  ${IfNot} ${AtLeastWin7}
    MessageBox MB_OK|MB_ICONSTOP "$(OldWindows)" /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
  !insertmacro MUI_LANGDLL_DISPLAY
  ; An older version over a newer one only when asked; silently it is refused.
  ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $R1 != ""
    ${VersionCompare} "${VERSION}" "$R1" $0
    ${If} $0 == 2
      MessageBox MB_YESNO|MB_ICONQUESTION "$(Downgrade)" /SD IDNO IDYES downgrade
      SetErrorLevel 4
      Quit
      downgrade:
    ${EndIf}
  ${EndIf}
FunctionEnd

; One install at a time: ours in another folder (the uninstall entry's location) is removed first,
; so the single entry and the shared keys always belong to the copy in use. Returns with $R2 "no"
; when the user would rather choose another folder.
Function RemoveOtherInstall
  StrCpy $R2 "yes"
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $R0 == ""
  ${OrIfNot} ${FileExists} "$R0\${UNINSTALLER}"
    Return
  ${EndIf}
  ; The same folder under another spelling (case, a trailing backslash) is no other folder.
  GetFullPathName $0 "$R0"
  GetFullPathName $1 "$INSTDIR"
  ${If} $0 == $1
    Return
  ${EndIf}
  MessageBox MB_YESNO|MB_ICONQUESTION "$(OtherFolder)" /SD IDYES IDYES remove
  StrCpy $R2 "no"
  Return
  remove:
  ; _?= runs it in place and waits; it cannot delete itself then, so that is left to us.
  ClearErrors
  ExecWait '"$R0\${UNINSTALLER}" /S _?=$R0' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
  ${OrIf} ${FileExists} "$R0\${DLL}"
    MessageBox MB_OK|MB_ICONSTOP "$(OtherNotRemoved)" /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}
  Delete "$R0\${UNINSTALLER}"
  RMDir "$R0"
FunctionEnd

Function DirectoryLeave
  Call RemoveOtherInstall
  ${If} $R2 == "no"
    Abort
  ${EndIf}
FunctionEnd

; The highest folder of $INSTDIR that does not exist yet, in $R0 ("" when it exists): the
; uninstaller removes the folders the install made, once they are empty.
Function FirstMissingFolder
  StrCpy $R0 ""
  StrCpy $R1 "$INSTDIR"
  ${DoWhile} $R1 != ""
    ${If} ${FileExists} "$R1\*.*"
      ${Break}
    ${EndIf}
    StrCpy $R0 "$R1"
    ${GetParent} "$R1" $R1
  ${Loop}
FunctionEnd

; The settings file beside the DLL, writable by the local Users group (S-1-5-32-545, the same in
; every language of Windows): the file only, not the folder that other plug-ins share. A standard
; user's viewer can then save its settings there, and a legacy viewer's writes no longer land in
; the user's VirtualStore. The ACL goes through advapi32 since Windows' icacls is not scriptable
; from here without a console, and Wine has no working one.
Function PrepareSettingsFile
  StrCpy $0 "$INSTDIR\${SETTINGS}"
  ${IfNot} ${FileExists} $0
    ; Settings a legacy viewer saved into this user's VirtualStore become the real file.
    StrCpy $1 "$INSTDIR" "" 3
    SetShellVarContext current
    StrCpy $2 "$LOCALAPPDATA\VirtualStore\$1\${SETTINGS}"
    ${If} ${FileExists} $2
      CopyFiles /SILENT "$2" "$0"
      Delete "$2"
    ${Else}
      FileOpen $1 $0 w
      FileClose $1
    ${EndIf}
  ${EndIf}
  System::Call 'advapi32::ConvertStringSidToSidW(w "S-1-5-32-545", *p .r1) i .r2'
  ${If} $2 = 0
    DetailPrint "$(NoUsersAccess)"
    Return
  ${EndIf}
  ; SE_FILE_OBJECT, DACL_SECURITY_INFORMATION; the old DACL is kept and the grant merged into it.
  System::Call 'advapi32::GetNamedSecurityInfoW(w r0, i 1, i 4, p 0, p 0, *p .r3, p 0, *p .r4) i .r5'
  ${If} $5 <> 0
    System::Call 'kernel32::LocalFree(p r1)'
    DetailPrint "$(NoUsersAccess)"
    Return
  ${EndIf}
  ; EXPLICIT_ACCESS_W: Modify (0x1301bf: read, write, execute, delete), GRANT_ACCESS,
  ; NO_INHERITANCE; a TRUSTEE_W naming a well-known group by its SID.
!ifdef AMD64
  System::Call '*(i 0x1301bf, i 1, i 0, i 0, p 0, i 0, i 0, i 5, i 0, p r1) p .r6'
!else
  System::Call '*(i 0x1301bf, i 1, i 0, p 0, i 0, i 0, i 5, p r1) p .r6'
!endif
  System::Call 'advapi32::SetEntriesInAclW(i 1, p r6, p r3, *p .r7) i .r8'
  StrCpy $9 1
  ${If} $8 = 0
    System::Call 'advapi32::SetNamedSecurityInfoW(w r0, i 1, i 4, p 0, p 0, p r7, p 0) i .r9'
    System::Call 'kernel32::LocalFree(p r7)'
  ${EndIf}
  ${If} $9 <> 0
    DetailPrint "$(NoUsersAccess)"
  ${EndIf}
  System::Free $6
  System::Call 'kernel32::LocalFree(p r4)'
  System::Call 'kernel32::LocalFree(p r1)'
FunctionEnd

Section "-Install"
  ; Pages do not run in a silent install: the checks of the directory page are made here.
  ${If} ${Silent}
    Call RemoveOtherInstall
  ${EndIf}
  Call FirstMissingFolder
  ${If} $R0 != ""
    WriteRegStr HKLM "${PRODUCT_KEY}" "CreatedFolder" "$R0"
  ${EndIf}
  SetOutPath "$INSTDIR"
  Call WaitForFreeDll
  ; Every name carries ours, so overwriting touches no other plug-in's file.
  SetOverwrite on
  AllowSkipFiles off
  !insertmacro ForEachInstalledFile InstallFile
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  Call PrepareSettingsFile

  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallDir" "$INSTDIR"
  ; Saved here too: the pages that would save it do not run in a silent install, and the
  ; uninstaller would ask.
  WriteRegStr HKLM "${PRODUCT_KEY}" "Language" "$LANGUAGE"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KVP_LineView developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/M=KVP_LineView* /S=0K /G=0" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Var CreatedFolder

Function un.onInit
  !insertmacro MUI_UNGETLANGUAGE
  ReadRegStr $CreatedFolder HKLM "${PRODUCT_KEY}" "CreatedFolder"
FunctionEnd

; An uninstall has nothing to place: no "Space required" line.
Function un.HideSpaceRequired
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $0 $0 1023
  ShowWindow $0 ${SW_HIDE}
FunctionEnd

Section "-un.Files"
  Call un.WaitForFreeDll
  !insertmacro ForEachInstalledFile DeleteFile
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The shared keys belong to the copy the entry names; an older copy elsewhere leaves them.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    GetFullPathName $0 "$0"
    GetFullPathName $1 "$INSTDIR"
  ${EndIf}
  ${If} $0 == $1
  ${OrIf} $0 == ""
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "${PRODUCT_KEY}"
    ; The maker's key goes only when nothing else is in it (StoreInUsersFolder is a value there).
    ClearErrors
    EnumRegValue $0 HKLM "${MAKER_KEY}" 0
    ${If} $0 == ""
      DeleteRegKey /ifempty HKLM "${MAKER_KEY}"
    ${EndIf}
  ${EndIf}
SectionEnd

; Not ticked by default, and so never in a silent uninstall: the settings stay for the next version.
Section /o "un.$(RemoveSettings)" RemoveSettingsSection
  Delete "$INSTDIR\${SETTINGS}"
  SetShellVarContext current
  Delete "$APPDATA\Kestrova\Plugins\${SETTINGS}"
  RMDir "$APPDATA\Kestrova\Plugins"
  RMDir "$APPDATA\Kestrova"
  ; Where a legacy viewer's writes went while the folder was not writable.
  StrCpy $0 "$INSTDIR" "" 3
  Delete "$LOCALAPPDATA\VirtualStore\$0\${SETTINGS}"
SectionEnd

Section "-un.Folder"
  ; Only when nothing else is left in them: the viewer's other plug-ins may live there too.
  ; Up to the highest folder the install made, and no further.
  StrLen $1 "$CreatedFolder"
  StrCpy $2 "$INSTDIR" $1
  ${If} $2 != $CreatedFolder
    StrCpy $CreatedFolder ""
  ${EndIf}
  StrCpy $0 "$INSTDIR"
  ${Do}
    RMDir "$0"
    ${If} $0 == $CreatedFolder
    ${OrIf} $CreatedFolder == ""
      ${Break}
    ${EndIf}
    ${GetParent} "$0" $0
  ${LoopUntil} $0 == ""
SectionEnd
