// The system each test plays: a listener that records and prints it for every test.
#include "support/plays.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/sandbox.h"

const char kPlaysDeletionAtOnce[] = "Windows 10 1809+ and 11 on NTFS (deletion at once)";
const char kPlaysClassicDeletion[] = "Windows 7 and 8, FAT, exFAT, shares (classic deletion)";
const char kPlaysEachRound[] = "a system of its own in each round, through stand-ins";

namespace {

const int kDispositionEx = 64;
// Delete, with POSIX semantics, ignoring the read-only bit: the flags the walk asks for.
const ULONG kDeleteAtOnce = 0x1 | 0x2 | 0x10;

typedef LONG(WINAPI* SetInformation)(HANDLE, void*, void*, ULONG, int);

bool AskDeletionAtOnce() {
    std::string probe = FreshFolder("plays", std::to_string(GetCurrentProcessId())) + "probe.txt";
    WriteFile(probe);
    HANDLE file = CreateFileW(Wide(probe).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    SetInformation set = reinterpret_cast<SetInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    ULONG flags = kDeleteAtOnce;
    ULONG_PTR io[2] = {0, 0};
    bool atOnce =
        file != INVALID_HANDLE_VALUE && set(file, io, &flags, sizeof(flags), kDispositionEx) == 0;
    CloseHandle(file);
    RemoveAll(probe.substr(0, probe.rfind('\\')));
    return atOnce;
}

const char* gPlayed;

class PlaysListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        Plays(SystemDeletesAtOnce() ? kPlaysDeletionAtOnce : kPlaysClassicDeletion);
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::printf("[ plays    ] %s\n", gPlayed);
        std::fflush(stdout);
    }
};

// Registered before gtest_main runs the tests, in every test program.
const bool kRegistered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new PlaysListener);
    return true;
}();

} // namespace

bool SystemDeletesAtOnce() {
    static const bool atOnce = AskDeletionAtOnce();
    return atOnce;
}

void Plays(const char* system) {
    gPlayed = system;
    ::testing::Test::RecordProperty("plays", system);
}
