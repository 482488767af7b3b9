; A client update for Vennic: puts the new client, Quorvel and the upgrade script into an
; existing installation, then lets Quorvel migrate the client's databases.
;
;   makensis setup.nsi                                   the three files beside this script
;   makensis -DFILES=<folder> -DOUTFILE=<file> setup.nsi  the three files elsewhere
;
;   vennic-update.exe                                 asks for the installation folder
;   vennic-update.exe /S /D=C:\Program Files\Vennic   silent; /D= comes last, unquoted
;
; (Not setup.exe: Windows loads compatibility shims into a program of that name.)
;
; Exit status: 0 when the databases were migrated or were at the script's version already;
; 2 when the update failed: no client in the folder, or Quorvel reported a failure (the
; rows are then in the databases or in the files Quorvel kept beside them, and
; log\ReData.log says what happened); 1 when the user cancelled.
;
; Saved as UTF-8 with a byte order mark: without it, makensis on Windows reads the file in
; the ANSI code page and garbles the Chinese texts.

Unicode true
!include LogicLib.nsh

!ifndef FILES
  !define FILES .
!endif
!ifndef OUTFILE
  !define OUTFILE vennic-update.exe
!endif

Name "Vennic 8.1.0"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Vennic"
; Writing into Program Files needs it.
RequestExecutionLevel admin
ShowInstDetails show
LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"

Page directory
Page instfiles

Section
  ${IfNot} ${FileExists} "$INSTDIR\vennic.exe"
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR 中没有 Vennic。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}

  SetOutPath "$INSTDIR"
  ; Quorvel runs the first *.dbr it finds: an earlier update's script must not be it.
  Delete "$INSTDIR\*.dbr"
  File "${FILES}\vennic.exe"
  File "${FILES}\quorvel.exe"
  File "${FILES}\upgrade.dbr"
  ; Without this folder Quorvel writes its log beside itself.
  CreateDirectory "$INSTDIR\log"

  ; After the files: Quorvel compares the new client with the script. The switch is /S in
  ; upper case; /s would open Quorvel's dialog and wait for someone to click.
  DetailPrint "数据迁移..."
  ClearErrors
  ExecWait '"$INSTDIR\quorvel.exe" /S' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "数据迁移失败！$\n详情见 $INSTDIR\log\ReData.log" /SD IDOK
    Abort
  ${EndIf}
SectionEnd
