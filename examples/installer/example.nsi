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
;
; The reboot: "example.exe /reboot" (any case) forwards /reboot to the end of the setup's
; arguments, which makes the sample setup ask for a reboot on its first run, and registers the
; start after the reboot. The installer cannot learn the setup's exit code: selfclean runs the
; setup after the installer has gone, and its own exit code is always 0. So the installer decides
; beforehand, from its command line here (a real one may know from what it installs), tells the
; setup, and registers the start before it starts selfclean, so that the value is in place
; however soon the setup restarts the machine. It is selfclean's own command line plus argument 4
; RunOnce, which counts the pending reboot down and runs the setup again: the setup must cope with
; that second run (the sample setup finds its record and finishes). Should the setup not ask for a
; reboot after all, the tree goes at once and the start after the reboot finds no program to run.
;
; Why HKEY_LOCAL_MACHINE's RunOnce, and elevated: the count-down writes, and from 1 deletes, the
; counter under HKEY_LOCAL_MACHINE, which only an elevated selfclean can. Windows runs the
; machine's RunOnce values at the next logon of an administrator (a standard user's logon leaves
; them for later), with that administrator's full rights; and only an elevated installer may write
; them (SOFTWARE\Microsoft\Windows is never virtualised: an unelevated write simply fails). A
; value under HKEY_CURRENT_USER would run unelevated. selfclean has no manifest, so its registry
; calls are virtualised there: from 1 the deletion of the machine's key is refused, above 1 the
; lower count lands in that user's virtual store. The machine's count stays, and with it this
; tree and every later one on the machine.
;
; The registry view: HKEY_LOCAL_MACHINE\SOFTWARE is redirected for 32-bit programs on 64-bit
; Windows, and RunOnce is not among its shared keys, so this 32-bit installer would write
; SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\RunOnce. The value goes to the key that
; Windows documents, in the native view (SetRegView 64 where the installer runs under WOW64).
; selfclean itself stays 32-bit and keeps its counter in the 32-bit view either way.
;
; Windows documents a Run or RunOnce value's data as a command line of at most 260 characters.
; This one holds the staging folder's path three times: about 235 characters before the setup's
; own arguments, with %TEMP% as C:\Users\<name>\AppData\Local\Temp and a name of 8 letters.
; Keep the staging folder's name and the setup's arguments short: a long user name or a few
; arguments take the line past the limit.

Unicode true
SilentInstall silent
RequestExecutionLevel admin
Name "selfclean example"
OutFile "${OUTFILE}"

!include FileFunc.nsh
!include LogicLib.nsh
!include x64.nsh

!ifndef SETUP_ARGS
    !define SETUP_ARGS ""
!endif
!define STAGE "$TEMP\selfclean-example"
!define RUNONCE_KEY "Software\Microsoft\Windows\CurrentVersion\RunOnce"

; " /reboot" when the installer was started with /reboot, to be passed on to the setup.
Var RebootSwitch
Var SelfcleanLine

Section
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/reboot" $1
    ${IfNot} ${Errors}
    ${AndIf} $1 == ""
        StrCpy $RebootSwitch " /reboot"
    ${EndIf}

    SetOutPath "${STAGE}\setup"
    File "/oname=selfclean.exe" "${SELFCLEAN}"
    File "/oname=setup.exe" "${SETUP}"
    SetOutPath "${STAGE}\payload"
    File /r "${PAYLOAD}\*.*"

    ; Argument 2 is the setup's whole command line as one argument: the setup's path is quoted
    ; inside it with \" in case the temporary folder's path holds blanks. Argument 3 is the
    ; folder the setup starts in, given also because argument 4 needs it in front of it.
    StrCpy $SelfcleanLine '"${STAGE}\setup\selfclean.exe" -1 "\"${STAGE}\setup\setup.exe\" ${SETUP_ARGS}$RebootSwitch" "${STAGE}\setup"'

    ${If} $RebootSwitch != ""
        ${If} ${IsWow64}
            SetRegView 64
        ${EndIf}
        WriteRegStr HKLM "${RUNONCE_KEY}" "selfclean-example" "$SelfcleanLine RunOnce"
        SetRegView lastused
    ${EndIf}

    ; The installer's current folder still lies in the payload here, and selfclean inherits it;
    ; selfclean leaves it before it removes the tree. Nothing may keep a file of the staged tree
    ; open once the setup has ended (a process left running from it, say), or that file and the
    ; folders holding it stay.
    Exec $SelfcleanLine
SectionEnd
