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
;
; Rights: the installer asks for elevation. selfclean starts the setup with CreateProcessW, so
; the setup gets the installer's rights and can never ask for more itself; and selfclean keeps
; its reboot counter under HKEY_LOCAL_MACHINE, which only an elevated selfclean writes for the
; whole machine (without elevation Windows diverts the write into the user's own virtual store).
; Give the setup a manifest: Windows takes a 32-bit program without one whose name looks like an
; installer's (setup.exe) for an installer, and refuses to start it from a process that is not
; elevated (ERROR_ELEVATION_REQUIRED). The sample setup the tests stage asks for asInvoker: it
; runs with whatever rights the installer has. An installer whose setup needs no elevation and never asks
; for a reboot (exit code 4096) may use "RequestExecutionLevel user".

Unicode true
SilentInstall silent
RequestExecutionLevel admin
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
