; Lumora's installer, built by scripts/release.sh with makensis:
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DSTAGE=<folder> -DTARGET=<x86-unicode|amd64-unicode>
;            -DICON=<.ico> -DOUTFILE=<setup.exe> lumora.nsi
; STAGE holds exactly what the portable zip holds; all of it is installed.
; TARGET is NSIS's stub: x86-unicode for the 32-bit program, amd64-unicode
; for the 64-bit one; both install into the same per-user folder.
;
; The program keeps app.log and its backups (bak\) in its own folder, so it
; installs per user, without administrator rights, into a folder the user
; can write (Program Files is not). The uninstaller removes the program's
; files and keeps bak\ and app.log, and says so.
Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"

!define PRODUCT "Lumora"
!define PUBLISHER "The Lumora Team"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora"
!searchparse "${VERSION}" "" VERSION_MAJOR "." VERSION_MINOR "." VERSION_PATCH

Name "${PRODUCT} ${VERSION_MAJOR}.${VERSION_MINOR}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Lumora"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Lumora.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\使用说明.txt"
!define MUI_UNCONFIRMPAGE_TEXT_TOP "将删除 Lumora 的程序文件。数据包的备份(bak 文件夹)和运行日志(app.log)会保留在程序文件夹中。"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "Lumora"
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; the shortcuts start the program in its own folder
    CreateDirectory "$SMPROGRAMS\Lumora"
    CreateShortCut "$SMPROGRAMS\Lumora\Lumora.lnk" "$INSTDIR\Lumora.exe"
    CreateShortCut "$SMPROGRAMS\Lumora\使用说明.lnk" "$INSTDIR\使用说明.txt"
    CreateShortCut "$SMPROGRAMS\Lumora\卸载 Lumora.lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION_MAJOR}.${VERSION_MINOR}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Lumora.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; What the program wrote beside itself other than the seller's backups and
; the log (the shortcut marker, the browser probe page) goes with it.
Section "Uninstall"
    Delete "$INSTDIR\Lumora.exe"
    Delete "$INSTDIR\libiconv-2.dll"
    Delete "$INSTDIR\使用说明.txt"
    Delete "$INSTDIR\no_shortcut.txt"
    Delete "$INSTDIR\temp.html"
    RMDir /r "$INSTDIR\licenses"
    RMDir /r "$INSTDIR\source"

    Delete "$SMPROGRAMS\Lumora\Lumora.lnk"
    Delete "$SMPROGRAMS\Lumora\使用说明.lnk"
    Delete "$SMPROGRAMS\Lumora\卸载 Lumora.lnk"
    RMDir "$SMPROGRAMS\Lumora"
    Delete "$DESKTOP\Lumora.lnk"  ; the shortcut the program offered to make
    DeleteRegKey HKCU "${UNINSTALL_KEY}"

    ; last of the files, so that its absence tells the work is done
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"  ; stays when bak\ or app.log is in it

    IfFileExists "$INSTDIR\*.*" 0 done
    DetailPrint "已保留数据包备份(bak)和运行日志(app.log)：$INSTDIR"
    MessageBox MB_OK|MB_ICONINFORMATION "Lumora 已卸载。$\r$\n$\r$\n数据包的备份(bak 文件夹)和运行日志(app.log)已保留在：$\r$\n$INSTDIR$\r$\n$\r$\n不再需要时，可以手动删除这个文件夹。" /SD IDOK
done:
SectionEnd
