; An installer that stages a setup and its payload in the temporary folder, starts selfclean to
; run the setup and remove the staged tree afterwards, and exits at once.
;
;   makensis -DSELFCLEAN=selfclean.exe -DSETUP=setup.exe -DPAYLOAD=payload -DOUTFILE=example.exe
;            example.nsi
;
; SELFCLEAN  the selfclean executable to ship
; SETUP      the local setup program; SETUP_ARGS, optional, are its arguments
; PAYLOAD    a folder whose files the setup needs (unpacked whole)
; OUTFILE    the installer to write
;
; The staged tree is $TEMP\selfclean-example:
;   setup\selfclean.exe, setup\setup.exe   the folder selfclean runs from
;   payload\...                            the payload
; selfclean removes the whole of it once the setup has ended without asking for a reboot.

Unicode true
SilentInstall silent
RequestExecutionLevel user
Name "selfclean example"
OutFile "${OUTFILE}"

!ifndef SETUP_ARGS
    !define SETUP_ARGS ""
!endif
!define STAGE "$TEMP\selfclean-example"

Section
    SetOutPath "${STAGE}\setup"
    File "/oname=selfclean.exe" "${SELFCLEAN}"
    File "/oname=setup.exe" "${SETUP}"
    SetOutPath "${STAGE}\payload"
    File /r "${PAYLOAD}\*.*"

    ; Argument 2 is the setup's whole command line as one argument: the setup's path is quoted
    ; inside it with \" in case the temporary folder's path holds blanks. Argument 3 is the
    ; folder the setup starts in.
    ; The installer's current folder still lies in the payload here, and selfclean inherits it;
    ; selfclean leaves it before it removes the tree. Nothing may keep a file of the staged tree
    ; open once the setup has ended (a process left running from it, say), or that file and the
    ; folders holding it stay.
    Exec '"${STAGE}\setup\selfclean.exe" -1 "\"${STAGE}\setup\setup.exe\" ${SETUP_ARGS}" "${STAGE}\setup"'
SectionEnd
