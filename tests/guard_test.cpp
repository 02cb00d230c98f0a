#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "cleanup/cleanup.h"
#include "common/common.h"
#include "entry/entry.h"
#include "entry/guard.h"
#include "walk/walk.h"
#include "support/counter_key.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"
#include "selfclean_config.h"

static DWORD gCaughtCode;
static volatile int gWorkSteps;

static void CatchCode(DWORD code) {
    gCaughtCode = code;
}

// A frame inside the work, such as the platform's own calls install, that the guard must unwind.
static EXCEPTION_DISPOSITION NTAPI InnerHandler(EXCEPTION_RECORD* exception, void*, CONTEXT*,
                                                void*) {
    if ((exception->ExceptionFlags & EXCEPTION_UNWINDING) != 0) {
        ++gWorkSteps;
    }
    return ExceptionContinueSearch;
}

static void WorkWithInnerFrameThatFaults() {
    EXCEPTION_REGISTRATION_RECORD inner;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(inner.Next));
    inner.Handler = InnerHandler;
    __asm__ volatile("movl %0, %%fs:0" : : "r"(&inner) : "memory");
    // Through a pointer the compiler cannot see, so that a real store faults.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    ++gWorkSteps;
}

static EXCEPTION_REGISTRATION_RECORD* ChainHead() {
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

TEST(Guard, CatchesProcessorFaultsAndUnwindsInnerFrames) {
    EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
    gCaughtCode = 0;
    gWorkSteps = 0;
    RunGuarded(WorkWithInnerFrameThatFaults, CatchCode);
    // Where 32-bit code runs through a user-mode emulator, Wine reports this fault as an
    // illegal instruction; the codes themselves are checked with raised exceptions below.
    EXPECT_TRUE(gCaughtCode == EXCEPTION_ACCESS_VIOLATION ||
                gCaughtCode == EXCEPTION_ILLEGAL_INSTRUCTION)
        << std::hex << gCaughtCode;
    EXPECT_EQ(gWorkSteps, 1) << "the inner frame is unwound once and the work never resumes";
    EXPECT_EQ(ChainHead(), before);
}

TEST(Guard, WorkWithoutExceptionLeavesTheChainAsItWas) {
    EXCEPTION_REGISTRATION_RECORD* before = ChainHead();
    gCaughtCode = 0;
    RunGuarded([] { ++gWorkSteps; }, CatchCode);
    EXPECT_EQ(gCaughtCode, 0u);
    EXPECT_EQ(ChainHead(), before);
    // A second guarded run works the same after one that caught.
    RunGuarded([] { RaiseException(0xE0001234, 0, 0, NULL); }, CatchCode);
    EXPECT_EQ(gCaughtCode, 0xE0001234u);
    EXPECT_EQ(ChainHead(), before);
}

static std::vector<std::string> LinesFrom(const std::string& first) {
    auto start = std::find(TraceLines().begin(), TraceLines().end(), first);
    return std::vector<std::string>(start, TraceLines().end());
}

TEST(EntryGuard, TracesTheCodeAsSignedDecimalAndReturnsZero) {
    struct Case {
        DWORD code;
        const char* line;
    } cases[] = {
        {EXCEPTION_ACCESS_VIOLATION, "ExceptionCode= -1073741819"},
        {EXCEPTION_INT_DIVIDE_BY_ZERO, "ExceptionCode= -1073741676"},
        {EXCEPTION_STACK_OVERFLOW, "ExceptionCode= -1073741571"},
        {0xE0000001, "ExceptionCode= -536870911"},
        {0x00012345, "ExceptionCode= 74565"},
    };
    for (const Case& c : cases) {
        UseCommandLine("x.exe -1");
        ClearTraceLines();
        RaiseAtTrace("__argv[1]", c.code);
        EXPECT_EQ(RunEntry(), 0);
        std::vector<std::string> expected = {"__argv[1] = -1\r\n",
                                             "An application exception was occured!\r\n", c.line};
        EXPECT_EQ(LinesFrom("__argv[1] = -1\r\n"), expected);
    }
}

// S:\guard\<test>\ holds canary.txt beside the staged tree stage\setup\x.exe.
class EntryGuardRoles : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveCounterKey();
        base =
            FreshFolder("guard", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stage = base + "stage\\";
        MakeFolders(stage + "setup");
        MakeFolders(stage + "data");
        WriteFile(stage + "setup\\x.exe");
        WriteFile(stage + "data\\f.txt");
        WriteFile(base + "canary.txt");
        ClearTraceLines();
    }
    void TearDown() override {
        gUnwindStandIn = NULL;
        gBeforeEnteringFolder = NULL;
        RemoveCounterKey();
    }
    std::string base, stage;
};

// The system's unwind as Windows returns from it: EBX, ESI and EDI (EBP too, for good measure)
// not as the caller left them.
extern "C" void WINAPI UnwindLosingRegisters(PVOID, PVOID, PEXCEPTION_RECORD, PVOID);
__asm__(".text\n"
        ".globl _UnwindLosingRegisters@16\n"
        "_UnwindLosingRegisters@16:\n"
        "    pushl 16(%esp)\n"
        "    pushl 16(%esp)\n"
        "    pushl 16(%esp)\n"
        "    pushl 16(%esp)\n"
        "    call *__imp__RtlUnwind@16\n"
        "    xorl %ebx, %ebx\n"
        "    xorl %esi, %esi\n"
        "    xorl %edi, %edi\n"
        "    xorl %ebp, %ebp\n"
        "    ret $16\n");

// Faults once, on entering a folder named "deep", with the folders above it held open by the walk.
static void FaultOnEnteringDeep(const wchar_t* folder) {
    size_t length = wcslen(folder);
    if (length >= 5 && wcscmp(folder + length - 5, L"deep\\") == 0) {
        gBeforeEnteringFolder = NULL;
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
}

// The handler resumes although the unwind did not restore the registers, and the second pass
// finds the folders the first one held open closed again.
TEST_F(EntryGuardRoles, FaultInTheMiddleOfTheWalkUnderAnUnwindThatLosesRegisters) {
    gUnwindStandIn = UnwindLosingRegisters;
    MakeFolders(stage + "data\\deep\\er");
    WriteFile(stage + "data\\deep\\er\\f.txt");
    gBeforeEnteringFolder = FaultOnEnteringDeep;
    UseCommandLine("c.tmp 0 \"" + stage + "setup\\x.exe\"");
    EXPECT_EQ(RunEntry(), 0);
    EXPECT_TRUE(Traced("Exception raised by th Clone EXE\r\n"));
    EXPECT_FALSE(Exists(stage));
    EXPECT_TRUE(Exists(base + "canary.txt"));
}

TEST_F(EntryGuardRoles, FaultInTheClonesRemovalRunsItExactlyOnceMore) {
    UseCommandLine("c.tmp 0 \"" + stage + "setup\\x.exe\"");
    std::string rootLine = stage + "setup\\..\\\r\n";
    FaultAtTrace(rootLine);
    EXPECT_EQ(RunEntry(), 0);
    std::vector<std::string> lines = LinesFrom(rootLine);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(0, 15), "ExceptionCode= ");
    lines[2] = "ExceptionCode= ";
    std::vector<std::string> expected = {
        rootLine,
        "An application exception was occured!\r\n",
        "ExceptionCode= ",
        "Exception raised by th Clone EXE\r\n",
        "Cannot delete the original EXE\r\n",
        rootLine,
    };
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(Exists(stage));
    EXPECT_TRUE(Exists(base + "canary.txt"));
}

TEST_F(EntryGuardRoles, FaultBeforeTheClonesWaitStillRemoves) {
    UseCommandLine("c.tmp 0 \"" + stage + "setup\\x.exe\"");
    RaiseAtTrace("Clone EXE\r\n", 0xE0000002);
    EXPECT_EQ(RunEntry(), 0);
    EXPECT_TRUE(Traced("Exception raised by th Clone EXE\r\n"));
    EXPECT_FALSE(Traced("Clone EXE terminated\r\n"));
    EXPECT_FALSE(Exists(stage));
    EXPECT_TRUE(Exists(base + "canary.txt"));
}

TEST_F(EntryGuardRoles, FaultInTheOriginalKeepsEverythingAndTheCounterAsLeft) {
    StoreCount(2);
    std::string record = base + "record.txt";
    UseCommandLine("\"" + stage + "setup\\x.exe\" -1 \"" + ProgramFolder() + "sample_setup.exe 0 " +
                   record + "\" " + base + " RunOnce");
    FaultAtTrace("LocalSetup cmd line = ");
    EXPECT_EQ(RunEntry(), 0);
    EXPECT_TRUE(Traced("Exception is raised by the Original EXE\r\n"));
    EXPECT_FALSE(Traced("Original EXE terminated\r\n"));
    EXPECT_FALSE(Exists(record)) << "the setup never started";
    EXPECT_TRUE(Exists(stage + "setup\\x.exe"));
    EXPECT_EQ(StoredCount(), 1u) << "RunOnce had counted one down before the fault";
}

// The first pass faults before kvoptemp; the second, which runs after the current folder was
// moved to the system directory, must still find kvoptemp where the Clone was started.
TEST_F(EntryGuardRoles, SecondPassFindsKvoptempInTheInheritedFolder) {
    char saved[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(saved), saved);
    MakeFolders(base + "work\\kvoptemp");
    SetCurrentDirectoryA((base + "work").c_str());
    UseCommandLine("c.tmp 0 \"" + stage + "setup\\x.exe\"");
    FaultAtTrace(stage + "setup\\..\\\r\n");
    EXPECT_EQ(RunEntry(), 0);
    SetCurrentDirectoryA(saved);
    EXPECT_TRUE(Traced("Exception raised by th Clone EXE\r\n"));
    EXPECT_FALSE(Exists(stage));
    EXPECT_EQ(Exists(base + "work\\kvoptemp"), !SELFCLEAN_REMOVE_KVOPTEMP);
}
