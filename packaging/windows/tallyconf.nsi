; The tallyconf installer for Windows. It installs for the user who runs it and needs no
; administrator rights: the programs go to %LOCALAPPDATA%\Programs\tallyconf, the Start-menu
; entries start the window in %APPDATA%\tallyconf, where its tallyconf.ini is kept, and tallyctl
; can go on the user's PATH. The uninstaller takes away what the installer put there and leaves
; tallyconf.ini.
;
; Built by the CMake target "installer" (packaging/windows/CMakeLists.txt), which stages the
; install tree and writes the file lists:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DSTAGE=... -DLISTS=... -DICON=... -DOUTFILE=... tallyconf.nsi
;
; Silent use:  tallyconf-1.0.0-win64-setup.exe /S [/PATH] [/D=FOLDER]
;              (/PATH also puts tallyctl on PATH; /D= must come last, without quotes even when
;              FOLDER has spaces; a /D= NSIS did not take ends the installer with exit 2)
;              "%LOCALAPPDATA%\Programs\tallyconf\uninstall.exe" /S
;
; Neither replaces nor removes anything while tallyconf, tallyctl or unit-simulator runs from the
; folder (app/folderinuse_win.cpp): they ask to close it (Retry/Cancel), and with /S end with
; exit 2. A file that still cannot be written or removed stops them with exit 2 too.

; The programs are 64-bit, and so is the installer: it runs wherever they run.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user
; A file that cannot be written is never skipped: Retry or Cancel, and /S cancels.
AllowSkipFiles off

!include MUI2.nsh
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include WordFunc.nsh

!define PRODUCT "tallyconf"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tallyconf"
!define SETTINGS_KEY "Software\tallyconf"
; The window's working folder: tallyconf.ini lives here, per user and writable.
!define WORK_DIR "$APPDATA\tallyconf"
!define MENU_DIR "$SMPROGRAMS\tallyconf"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\tallyconf"
InstallDirRegKey HKCU "${SETTINGS_KEY}" "InstallDir"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT licence, the tallyconf developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tallyconf.exe"
!define MUI_FINISHPAGE_RUN_FUNCTION StartWindow
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; English when the system speaks neither; Russian on a Russian Windows.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

LangString SectionPrograms ${LANG_ENGLISH} "tallyconf, tallyctl and unit-simulator"
LangString SectionPrograms ${LANG_RUSSIAN} "tallyconf, tallyctl и unit-simulator"
LangString SectionPath ${LANG_ENGLISH} "tallyctl on PATH (cmd.exe, PowerShell)"
LangString SectionPath ${LANG_RUSSIAN} "tallyctl в PATH (cmd.exe, PowerShell)"
LangString SimulatorEntry ${LANG_ENGLISH} "unit-simulator (127.0.0.1, port 20107)"
LangString SimulatorEntry ${LANG_RUSSIAN} "Имитатор блока (127.0.0.1, порт 20107)"
LangString UninstallEntry ${LANG_ENGLISH} "Uninstall tallyconf"
LangString UninstallEntry ${LANG_RUSSIAN} "Удалить tallyconf"
LangString PathTooLong ${LANG_ENGLISH} "PATH is too long for this installer; add $INSTDIR to it yourself."
LangString PathTooLong ${LANG_RUSSIAN} "PATH слишком длинный для установщика; добавьте $INSTDIR в него сами."
LangString PathLeft ${LANG_ENGLISH} "PATH is too long for this uninstaller; remove $INSTDIR from it yourself."
LangString PathLeft ${LANG_RUSSIAN} "PATH слишком длинный для программы удаления; уберите $INSTDIR из него сами."
LangString GuideEntry ${LANG_ENGLISH} "Engineer's guide"
LangString GuideEntry ${LANG_RUSSIAN} "Руководство инженера"
LangString InUse ${LANG_ENGLISH} "tallyconf, tallyctl or unit-simulator from $INSTDIR is running. Close it, then press Retry."
LangString InUse ${LANG_RUSSIAN} "Запущена программа из папки $INSTDIR (tallyconf, tallyctl или unit-simulator). Закройте её и нажмите «Повтор»."
LangString NotRemoved ${LANG_ENGLISH} "Some files of $INSTDIR could not be removed: a program may still have them open. Close it and run the uninstaller again."
LangString NotRemoved ${LANG_RUSSIAN} "Некоторые файлы в $INSTDIR удалить не удалось: возможно, их держит открытыми программа. Закройте её и запустите удаление снова."
LangString FolderNotTaken ${LANG_ENGLISH} "The folder after /D= was not taken. /D= must be the last option, without quotes, even when the folder has spaces:$\r$\nsetup.exe /S /D=C:\My folder"
LangString FolderNotTaken ${LANG_RUSSIAN} "Папка после /D= не принята. /D= пишется последним ключом и без кавычек, даже если в имени папки есть пробелы:$\r$\nsetup.exe /S /D=C:\Моя папка"

; ---- PATH of the user (HKCU\Environment), one entry at a time ----
; A Path longer than this installer's strings cannot be read whole, and is then never written.

Var pathValue       ; the Path value; PathWithout leaves it without pathEntry
Var pathEntry
Var pathFound       ; 1 if PathWithout found pathEntry
Var pathReadable    ; 1 if pathValue holds the whole value (or there is none)

!macro PATH_FUNCTIONS un
; Reads HKCU\Environment\Path into pathValue.
Function ${un}ReadPath
    StrCpy $pathReadable 1
    ClearErrors
    ReadRegStr $pathValue HKCU "Environment" "Path"
    ${IfNot} ${Errors}
        Return
    ${EndIf}
    ; Absent, or there but too long: only the value's name tells them apart.
    StrCpy $pathValue ""
    StrCpy $0 0
    ${Do}
        ClearErrors
        EnumRegValue $1 HKCU "Environment" $0
        ${If} ${Errors}
        ${OrIf} $1 == ""
            ${Break}
        ${EndIf}
        ${If} $1 == "Path"
            StrCpy $pathReadable 0
            ${Break}
        ${EndIf}
        IntOp $0 $0 + 1
    ${LoopUntil} $0 > 1000
FunctionEnd

; pathValue without any entry equal to pathEntry (with or without a closing backslash, in any
; case); every other entry stays as it was, empty ones included.
Function ${un}PathWithout
    StrCpy $0 $pathValue    ; what is left to look at
    StrCpy $1 ""            ; the new value
    StrCpy $2 0             ; 1 once the new value has an entry
    StrCpy $pathFound 0
    ${DoWhile} $0 != ""
        StrCpy $3 0
        ${Do}
            StrCpy $4 $0 1 $3
            ${If} $4 == ""
            ${OrIf} $4 == ";"
                ${Break}
            ${EndIf}
            IntOp $3 $3 + 1
        ${Loop}
        StrCpy $5 $0 $3     ; one entry
        IntOp $3 $3 + 1
        StrCpy $0 $0 "" $3
        ${If} $5 == $pathEntry
        ${OrIf} $5 == "$pathEntry\"
            StrCpy $pathFound 1
            ${If} $0 == ""
            ${AndIf} $4 == ";"
                StrCpy $4 ""
            ${EndIf}
        ${ElseIf} $2 == 1
            StrCpy $1 "$1;$5"
        ${Else}
            StrCpy $1 $5
            StrCpy $2 1
        ${EndIf}
        ; a closing ";" is an empty last entry
        ${If} $0 == ""
        ${AndIf} $4 == ";"
            StrCpy $1 "$1;"
        ${EndIf}
    ${Loop}
    StrCpy $pathValue $1
FunctionEnd

Function ${un}WritePath
    ${If} $pathValue == ""
        DeleteRegValue HKCU "Environment" "Path"
    ${Else}
        WriteRegExpandStr HKCU "Environment" "Path" $pathValue
    ${EndIf}
    ; Programs started from now on (a new cmd.exe) see the change.
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd
!macroend
!insertmacro PATH_FUNCTIONS ""
!insertmacro PATH_FUNCTIONS "un."

; ---- A program of $INSTDIR that runs ----

!macro IN_USE_FUNCTIONS un
; $0: 1 while a program started from $INSTDIR runs. Each holds a mutex named after its folder:
; "Local\tallyconf " and the folder's long path, lower case, "/" for "\" (app/folderinuse_win.cpp).
Function ${un}FolderInUse
    StrCpy $1 $INSTDIR
    System::Call 'kernel32::GetLongPathNameW(w r1, w .r2, i ${NSIS_MAX_STRLEN}) i .r3'
    ${If} $3 > 0
    ${AndIf} $3 < ${NSIS_MAX_STRLEN}
        StrCpy $1 $2
    ${EndIf}
    System::Call 'user32::CharLowerW(w r1 r1)'
    ${WordReplace} $1 "\" "/" "+" $1
    StrCpy $0 0
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Local\tallyconf $1") p .r2'
    ${If} $2 != 0
        System::Call 'kernel32::CloseHandle(p r2)'
        StrCpy $0 1
    ${EndIf}
FunctionEnd

; Waits for the engineer to close the programs of $INSTDIR; Cancel (and /S) stops here, with
; nothing changed yet and exit 2.
Function ${un}WaitUntilClosed
    ${Do}
        Call ${un}FolderInUse
        ${If} $0 == 0
            Return
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(InUse)" /SD IDCANCEL IDRETRY retry
        DetailPrint "$(InUse)"
        SetErrorLevel 2
        Abort
        retry:
    ${Loop}
FunctionEnd
!macroend
!insertmacro IN_USE_FUNCTIONS ""
!insertmacro IN_USE_FUNCTIONS "un."

; ---- Installer ----

Section "!$(SectionPrograms)" SecPrograms
    SectionIn RO
    Call WaitUntilClosed
    ; %LOCALAPPDATA%\Programs may not be there yet; if this install makes it, the uninstall
    ; takes it away again (when nothing else has moved in).
    ${GetParent} "$INSTDIR" $0
    ${IfNot} ${FileExists} "$0\*.*"
        WriteRegStr HKCU "${SETTINGS_KEY}" "CreatedFolder" "$0"
    ${EndIf}
    !include "${LISTS}\install-files.nsh"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The shortcuts' working folder is the folder they are created in.
    CreateDirectory "${MENU_DIR}"
    SetOutPath "${WORK_DIR}"
    CreateShortCut "${MENU_DIR}\tallyconf.lnk" "$INSTDIR\tallyconf.exe"
    CreateShortCut "${MENU_DIR}\$(SimulatorEntry).lnk" "$INSTDIR\unit-simulator.exe"
    SetOutPath "$INSTDIR"
    CreateShortCut "${MENU_DIR}\$(GuideEntry).lnk" "$INSTDIR\GUIDE.txt"
    CreateShortCut "${MENU_DIR}\$(UninstallEntry).lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKCU "${SETTINGS_KEY}" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "tallyconf developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tallyconf.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "$(SectionPath)" SecPath
    Call ReadPath
    ${If} $pathReadable != 1
        DetailPrint "$(PathTooLong)"
        Return
    ${EndIf}
    StrCpy $pathEntry "$INSTDIR"
    Call PathWithout
    ${If} $pathFound == 1
        Return
    ${EndIf}
    Call ReadPath
    StrLen $0 $pathValue
    StrLen $1 $INSTDIR
    IntOp $0 $0 + $1
    IntOp $0 $0 + 2
    ${If} $0 >= ${NSIS_MAX_STRLEN}
        DetailPrint "$(PathTooLong)"
        Return
    ${EndIf}
    ${If} $pathValue == ""
        StrCpy $pathValue "$INSTDIR"
    ${Else}
        StrCpy $0 $pathValue 1 -1
        ${If} $0 == ";"
            StrCpy $pathValue "$pathValue$INSTDIR"
        ${Else}
            StrCpy $pathValue "$pathValue;$INSTDIR"
        ${EndIf}
    ${EndIf}
    Call WritePath
SectionEnd

Function .onInit
    ${GetParameters} $0
    ; NSIS takes /D= only as the last option and unquoted, and cuts it off the command line then;
    ; one still there was ignored, and the programs would go to the wrong folder.
    StrCpy $1 0
    ${Do}
        StrCpy $2 $0 3 $1
        ${If} $2 == ""
            ${Break}
        ${EndIf}
        ${If} $2 == "/D="
            MessageBox MB_OK|MB_ICONSTOP "$(FolderNotTaken)" /SD IDOK
            SetErrorLevel 2
            Quit
        ${EndIf}
        IntOp $1 $1 + 1
    ${Loop}
    ClearErrors
    ${GetOptions} $0 "/PATH" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecPath}
    ${EndIf}
FunctionEnd

; The window from the finish page, in its working folder as from the Start menu.
Function StartWindow
    SetOutPath "${WORK_DIR}"
    Exec '"$INSTDIR\tallyconf.exe"'
    SetOutPath "$INSTDIR"
FunctionEnd

; ---- Uninstaller ----

Section "Uninstall"
    Call un.WaitUntilClosed
    ; The programs first: if one cannot be removed, the uninstaller, its entries and PATH stay,
    ; so that it can be run again.
    ClearErrors
    !include "${LISTS}\uninstall-files.nsh"
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "$(NotRemoved)" /SD IDOK
        DetailPrint "$(NotRemoved)"
        SetErrorLevel 2
        Abort
    ${EndIf}
    !include "${LISTS}\uninstall-folders.nsh"

    Call un.ReadPath
    ${If} $pathReadable == 1
        StrCpy $pathEntry "$INSTDIR"
        Call un.PathWithout
        ${If} $pathFound == 1
            Call un.WritePath
        ${EndIf}
    ${Else}
        DetailPrint "$(PathLeft)"
    ${EndIf}

    ; The entries' names are in the language of the install, which may not be this one.
    Delete "${MENU_DIR}\*.lnk"
    RMDir "${MENU_DIR}"

    Delete "$INSTDIR\uninstall.exe"
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"

    ClearErrors
    ReadRegStr $0 HKCU "${SETTINGS_KEY}" "CreatedFolder"
    ${IfNot} ${Errors}
        RMDir "$0"
    ${EndIf}

    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    ; The user's tallyconf.ini stays; the folder goes only if nothing was ever saved in it.
    RMDir "${WORK_DIR}"
SectionEnd
