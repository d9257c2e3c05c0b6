// OS codes and the 9x-class branch of the file locations, with Wine reporting another
// Windows version to one program file name.
#include <gtest/gtest.h>
#include "smtest.h"

TEST(OsVersion, CodesUnderEmulatedVersions)
{
    static const struct { const wchar_t* version; DWORD code; } cases[] = {
        { L"win95", 4 }, { L"win98", 8 }, { L"winme", 16 }, { L"nt40", 64 }, { L"win2k", 256 },
        { L"winxp", 256 }, { L"winxp64", 256 }, { L"vista", 512 }, { L"win7", 2048 },
        // A program without a compatibility manifest is told 6.2 on later systems, as on Windows.
        { L"win8", 4096 }, { L"win81", 4096 }, { L"win10", 4096 },
    };
    std::wstring probe = SmTestDir() + L"sm_osprobe.exe";
    for (const auto& c : cases) {
        std::wstring name = std::wstring(L"SmProbe_") + c.version;
        std::wstring copy = SmTestDir() + name + L".exe";
        ASSERT_TRUE(CopyFileW(probe.c_str(), copy.c_str(), FALSE));
        SmSetAppVersion(name + L".exe", c.version);
        SmRunResult r = SmRun(copy, L"");
        SmSetAppVersion(name + L".exe", L"");
        DeleteFileW(copy.c_str());
        ASSERT_TRUE(r.finished) << SmNarrow(c.version);
        EXPECT_EQ(c.code, r.exitCode) << SmNarrow(c.version);
    }
}

TEST(OsVersion, NineXClassKeepsTheExchangeFileInTheTemporaryDirectory)
{
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring tempIni = std::wstring(temp) + L"StatusMonitorV3.ini";
    DeleteFileW(tempIni.c_str());
    std::wstring log = SmTempDir(L"win98") + L"sm.log";

    std::wstring copy = SmCopyProgram(L"SmWin98");
    SmSetAppVersion(L"SmWin98.exe", L"win98");
    SetEnvironmentVariableW(L"SM_TRACE", (L"threshold=1;path=" + log).c_str());
    SmRunResult r = SmRun(copy, L"SetATM 1");
    SetEnvironmentVariableW(L"SM_TRACE", NULL);
    SmSetAppVersion(L"SmWin98.exe", L"");
    DeleteFileW(copy.c_str());
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, L"software\\ZorvekData");

    ASSERT_TRUE(r.finished);
    std::vector<BYTE> data = SmReadFile(tempIni);
    ASSERT_EQ(2u, data.size());               // created with its mark only
    EXPECT_EQ(0xFF, data[0]);
    EXPECT_EQ(0xFE, data[1]);
    std::vector<std::string> lines = SmSplitLines(SmReadFile(log));
    EXPECT_TRUE(SmContains(lines, "[MISC_GetPathName]::pathname = " + SmNarrow(tempIni)));
    EXPECT_TRUE(SmContains(lines, "[MISC_CheckUniFile]::rc = -1"));
}
