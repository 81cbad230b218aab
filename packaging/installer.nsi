; Installer of the KVP_LineView plug-in. scripts/release builds it with makensis:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.04 -DVERSION_NUMERIC=1.4.0.0 -DSTAGE=<folder> -DOUTFILE=<exe> installer.nsi
; STAGE holds KVP_LineView.dll, README-ru.txt, README-en.txt and LICENSE.
; Silent: setup.exe /S /D=C:\folder (last, unquoted); uninstall.exe /S keeps the settings.

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

!define PRODUCT "KVP_LineView"
!define DLL "KVP_LineView.dll"
!define SETTINGS "KVP_LineView.ini"
!define UNINSTALLER "KVP_LineView-uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KVP_LineView"
!define PRODUCT_KEY "Software\Kestrova\KVP_LineView"

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
VIAddVersionKey /LANG=0 "LegalCopyright" "MIT License"

!define MUI_ABORTWARNING
; The chosen language is remembered for the uninstaller.
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${PRODUCT_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Language"

!define MUI_DIRECTORYPAGE_TEXT_TOP "$(DirText)"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\$(ReadmeFile)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "$(KeepSettingsText)"
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
LangString ReadmeFile ${LANG_RUSSIAN} "README-ru.txt"
LangString ReadmeFile ${LANG_ENGLISH} "README-en.txt"

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
FunctionEnd

Section "-Install"
  SetOutPath "$INSTDIR"
  Call WaitForFreeDll
  SetOverwrite on
  AllowSkipFiles off
  File "${STAGE}\${DLL}"
  File "${STAGE}\README-ru.txt"
  File "${STAGE}\README-en.txt"
  File "/oname=KVP_LineView-LICENSE.txt" "${STAGE}\LICENSE"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallDir" "$INSTDIR"
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

Function un.onInit
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "-un.Files"
  Call un.WaitForFreeDll
  Delete "$INSTDIR\${DLL}"
  Delete "$INSTDIR\README-ru.txt"
  Delete "$INSTDIR\README-en.txt"
  Delete "$INSTDIR\KVP_LineView-LICENSE.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
SectionEnd

; Not ticked by default, and so never in a silent uninstall: the settings stay for the next version.
Section /o "un.$(RemoveSettings)" RemoveSettingsSection
  Delete "$INSTDIR\${SETTINGS}"
  SetShellVarContext current
  Delete "$APPDATA\Kestrova\Plugins\${SETTINGS}"
SectionEnd

Section "-un.Folder"
  ; Only when nothing else is left in it: the viewer's other plug-ins may live there too.
  RMDir "$INSTDIR"
SectionEnd
