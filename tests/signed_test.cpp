// A whole run of the signed executable that check-signing.sh leaves in S:\bin\signed\: the
// signature changes nothing of the job, and the Clone runs from a copy that carries it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/counter_key.h"
#include "support/launch.h"
#include "support/sandbox.h"

// The size of the certificate table that a 32-bit image's header names: 0 when it is unsigned.
static DWORD CertificateTableSize(const std::string& image) {
    const size_t kPeOffset = 0x3c;
    const size_t kTableSizeInPe = 24 + 128 + 4;
    DWORD pe = 0;
    DWORD size = 0;
    if (image.size() < kPeOffset + 4) {
        return 0;
    }
    memcpy(&pe, image.data() + kPeOffset, 4);
    if (image.size() < pe + kTableSizeInPe + 4 || image.compare(pe, 4, "PE\0\0", 4) != 0) {
        return 0;
    }
    memcpy(&size, image.data() + pe + kTableSizeInPe, 4);
    return size;
}

TEST(SignedRun, RemovesTheTreeAndRunsItsCopyWithTheSignature) {
    std::string signedExe = ProgramFolder() + "signed\\selfclean.exe";
    std::string signedImage = ReadFile(signedExe);
    ASSERT_GT(CertificateTableSize(signedImage), 0u) << signedExe << " carries no signature";
    ASSERT_EQ(CertificateTableSize(ReadFile(ProgramFolder() + "selfclean.exe")), 0u);

    RemoveCounterKey();
    std::string base = FreshFolder("signed", "run");
    std::string temp = base + "tmp\\";
    std::string stage = base + "stage\\";
    std::string setup = stage + "setup\\";
    MakeFolders(temp);
    MakeFolders(setup);
    MakeFolders(stage + "data\\deep");
    WriteFile(stage + "data\\deep\\file.bin");
    ASSERT_TRUE(CopyTo(signedExe, setup + "selfclean.exe"));
    ASSERT_TRUE(CopyTo(ProgramFolder() + "sample_setup.exe", setup + "sample_setup.exe"));

    std::string record = base + "setup-ran.txt";
    std::string line = "\"" + setup + "selfclean.exe\" -1 \"" + setup + "sample_setup.exe 0 " +
                       record + "\" \"" + setup.substr(0, setup.size() - 1) + "\"";
    std::wstring expected = Wide(signedExe);
    LaunchOptions options = {NULL, NULL, NULL, false, false, expected.c_str()};
    LaunchResult result = Launch(line.c_str(), temp.c_str(), &options);

    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.cloneSeen);
    EXPECT_EQ(result.cloneExitCode, 0u);
    EXPECT_TRUE(result.copyMatched) << "the Clone's copy is not the signed executable";
    EXPECT_FALSE(ReadFile(record).empty()) << "the setup did not run";
    EXPECT_FALSE(Exists(stage));
    EXPECT_EQ(CountTemporaryCopies(temp), 0);
    EXPECT_TRUE(Exists(record));
    RemoveCounterKey();
}
