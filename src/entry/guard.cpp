#include "guard.h"

// The registration record comes first: the thread's handler chain at FS:[0] points at it, and
// the system passes its address back to GuardHandler as the establisher frame.
struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record;
    void* resume[5];
    volatile DWORD exceptionCode;
};

UnwindCall gUnwindStandIn = NULL;

// Calls unwind(frame, NULL, exception, NULL) with EBX, ESI, EDI and EBP saved around the call.
// The system's x86 RtlUnwind returns through a context it captured inside itself, which leaves
// EBX, ESI and EDI as they were deep in the unwind, not as the caller had them; the compiler
// keeps values in those registers across any call. Defined in assembly, so that no optimisation
// can change how it is called or what it preserves.
extern "C" void UnwindPreservingRegisters(UnwindCall unwind, void* frame,
                                          EXCEPTION_RECORD* exception);
__asm__(".text\n"
        ".globl _UnwindPreservingRegisters\n"
        "_UnwindPreservingRegisters:\n"
        "    pushl %ebp\n"
        "    pushl %ebx\n"
        "    pushl %esi\n"
        "    pushl %edi\n"
        // The arguments lie above the four saved registers and the return address; every push
        // moves them 4 bytes further up. The call's own arguments go last first.
        "    pushl $0\n"
        "    pushl 32(%esp)\n"
        "    pushl $0\n"
        "    pushl 36(%esp)\n"
        "    call *36(%esp)\n"
        "    popl %edi\n"
        "    popl %esi\n"
        "    popl %ebx\n"
        "    popl %ebp\n"
        "    ret\n");

// The head of the thread's handler chain, the first word of its information block at FS:0.
static EXCEPTION_REGISTRATION_RECORD* ChainHead() {
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

static void SetChainHead(EXCEPTION_REGISTRATION_RECORD* head) {
    __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// Called by the system's dispatcher for every exception raised while the guard is linked.
// Takes every exception: records its code, unwinds the frames inside the guard and resumes in
// RunGuarded at the point its setjmp marked. Unwind calls pass through.
static EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* exception, void* frame, CONTEXT*,
                                                void*) {
    if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
        return ExceptionContinueSearch;
    }
    GuardFrame* guard = static_cast<GuardFrame*>(frame);
    guard->exceptionCode = exception->ExceptionCode;
    UnwindPreservingRegisters(gUnwindStandIn != NULL ? gUnwindStandIn : RtlUnwind, frame,
                              exception);
    __builtin_longjmp(guard->resume, 1);
}

void RunGuarded(void (*work)(), void (*onException)(DWORD code)) {
    GuardFrame guard;
    guard.record.Handler = GuardHandler;
    guard.record.Next = ChainHead();
    if (__builtin_setjmp(guard.resume) == 0) {
        SetChainHead(&guard.record);
        work();
        SetChainHead(guard.record.Next);
        return;
    }
    // Resumed from GuardHandler: unlink first, so that a fault in onException is not caught
    // again by this frame.
    SetChainHead(guard.record.Next);
    onException(guard.exceptionCode);
}
