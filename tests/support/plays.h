// Which Windows a test plays. Every test result carries the property "plays" and ends with a
// line "[ plays    ] ...": by default the system that the implementation under test answers as
// (found by asking it for the deletion at once, never from its version), else what the test
// forces through a seam and names with Plays.
#pragma once

// Windows 10 1809 and later, and 11, on NTFS: an entry leaves its folder at once, even while
// another process holds it with delete sharing (Wine 10).
extern const char kPlaysDeletionAtOnce[];
// Windows 7 and 8, FAT, exFAT and shares: entries are deleted the classic way (Wine 8).
extern const char kPlaysClassicDeletion[];
// A test whose rounds each play a system of their own through stand-ins, and say which.
extern const char kPlaysEachRound[];

// Whether the implementation under test deletes at once, asked once with a file of its own.
bool SystemDeletesAtOnce();
// Names the system the running test plays, in place of the default.
void Plays(const char* system);
