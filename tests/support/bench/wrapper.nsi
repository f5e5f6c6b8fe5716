; The installer a publisher would otherwise ship beside a package: a silent
; NSIS program that runs msiexec on the package in its own folder, waits, and
; returns msiexec's exit code as its own. "/x" on its command line removes the
; product instead of installing it. Built by scripts/bench.sh at bench time:
;
;   makensis -DTARGET=x86-unicode|amd64-unicode -DOUTFILE=FILE [-DPACKAGE=NAME.msi] wrapper.nsi
;
; Without PACKAGE its one section is empty: the same installer doing nothing,
; for the fixed cost. Everything else is NSIS's defaults (zlib, CRC check,
; standard icon and dialogs in the stub), as a publisher leaves them.

Unicode true
Target ${TARGET}
Name "QZ Bench Wrapper"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SilentInstall silent

!ifdef PACKAGE
!include FileFunc.nsh
!endif

Section
!ifdef PACKAGE
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/x" $R1
    StrCpy $R2 "/i"
    IfErrors +2
    StrCpy $R2 "/x"
    ; $SYSDIR is the msiexec of the stub's own bitness.
    ClearErrors
    ExecWait '"$SYSDIR\msiexec.exe" $R2 "$EXEDIR\${PACKAGE}" /qn' $0
    IfErrors 0 +2
    StrCpy $0 1
    SetErrorLevel $0
!endif
SectionEnd
