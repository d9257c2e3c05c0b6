// Start-up tables: OS codes, language indices, the class name, the argument table.
#include <gtest/gtest.h>
#include "app/app.h"
#include "util/misc.h"
#include <shellapi.h>
#include <string>

TEST(OsVersion, TableOfRealVersions)
{
    static const struct { DWORD platform, major, minor; WORD code; } cases[] = {
        { VER_PLATFORM_WIN32s, 3, 10, 2 },
        { VER_PLATFORM_WIN32_WINDOWS, 4, 0, 4 },      // Windows 95
        { VER_PLATFORM_WIN32_WINDOWS, 4, 10, 8 },     // Windows 98
        { VER_PLATFORM_WIN32_WINDOWS, 4, 90, 16 },    // Windows Me
        { VER_PLATFORM_WIN32_NT, 3, 51, 32 },
        { VER_PLATFORM_WIN32_NT, 4, 0, 64 },
        { VER_PLATFORM_WIN32_NT, 5, 0, 256 },         // 2000
        { VER_PLATFORM_WIN32_NT, 5, 1, 256 },         // XP
        { VER_PLATFORM_WIN32_NT, 5, 2, 256 },         // XP x64, Server 2003
        { VER_PLATFORM_WIN32_NT, 6, 0, 512 },         // Vista
        { VER_PLATFORM_WIN32_NT, 6, 1, 2048 },        // 7
        { VER_PLATFORM_WIN32_NT, 6, 2, 4096 },        // 8
        { VER_PLATFORM_WIN32_NT, 6, 3, 8192 },        // 8.1
        { VER_PLATFORM_WIN32_NT, 6, 4, 512 },
        { VER_PLATFORM_WIN32_NT, 10, 0, 16384 },      // 10 and 11
        { 3, 10, 0, 128 },                            // Windows CE and anything unknown
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.code, MISC_OSCodeFromVersion(c.platform, c.major, c.minor))
            << c.platform << " " << c.major << "." << c.minor;
    }
    EXPECT_FALSE(MISC_IsNTClass(16));
    EXPECT_TRUE(MISC_IsNTClass(32));
}

TEST(OsVersion, RunningSystemIsNtClass)
{
    // The test program has no Wine version override: Wine reports an NT-class system.
    EXPECT_TRUE(MISC_IsNTClass(MISC_GetOSVersion()));
}

TEST(Language, Table)
{
    static const struct { LONG id, index; } cases[] = {
        { 1028, 1 }, { 2052, 2 }, { 1036, 3 }, { 1031, 4 }, { 1045, 5 }, { 1049, 6 }, { 3082, 7 },
        { 1046, 8 }, { 1040, 9 }, { 1055, 10 }, { 1025, 11 }, { 1065, 12 },
        { 1033, 0 }, { 0, 0 }, { 1041, 0 }, { 1034, 0 }, { -1, 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.index, MISC_GetLanguageIndex(c.id)) << c.id;
}

TEST(ClassName, FromModulePath)
{
    static const struct { const wchar_t* path; const wchar_t* name; } cases[] = {
        { L"C:\\Program Files\\MFP\\StatusMonitor.exe", L"StatusMonitor" },
        { L"C:\\a.b\\Monitor.v2.exe", L"Monitor.v2" },
        { L"C:\\dir.x\\NoExtension", L"NoExtension" },
        { L"Plain.exe", L"Plain" },
        { L"C:\\dir\\", L"" },
    };
    for (const auto& c : cases) {
        WCHAR out[SM_CCH_PATH];
        memset(out, 0xCC, sizeof(out));
        EXPECT_EQ(1, SM_ClassNameFromPath(c.path, out, ARRAYSIZE(out)));
        EXPECT_STREQ(c.name, out);
    }
    WCHAR small[4];
    EXPECT_EQ(0, SM_ClassNameFromPath(L"C:\\Monitor.exe", small, ARRAYSIZE(small)));
    EXPECT_EQ(L'\0', small[3]);
}

// The program splits its command line itself rather than load the shell for it: every line gives
// exactly what the shell's CommandLineToArgvW gives, pointers and texts in one block.
static void ExpectSplitLikeTheShell(const std::wstring& line)
{
    int argcShell = -1, argcOurs = -1;
    LPWSTR* shell = CommandLineToArgvW(line.c_str(), &argcShell);
    LPWSTR* ours = SM_SplitCommandLine(line.c_str(), &argcOurs);
    ASSERT_TRUE(shell && ours) << "[" << std::string(line.begin(), line.end()) << "]";
    EXPECT_EQ(argcShell, argcOurs) << "[" << std::string(line.begin(), line.end()) << "]";
    for (int i = 0; i < argcShell && i < argcOurs; i++)
        EXPECT_STREQ(shell[i], ours[i]) << "argument " << i << " of [" << std::string(line.begin(), line.end()) << "]";
    EXPECT_EQ(nullptr, ours[argcOurs]);
    EXPECT_GE((BYTE*)ours[0], (BYTE*)&ours[argcOurs + 1]);
    EXPECT_EQ(LMEM_FIXED, LocalFlags(ours) & ~LMEM_LOCKCOUNT);
    LocalFree(shell);
    EXPECT_EQ(nullptr, LocalFree(ours));
}

TEST(CommandLine, SplitLikeTheShell)
{
    static const wchar_t* const lines[] = {
        L"", L"StatusMonitor.exe", L"\"C:\\Program Files\\MFP\\StatusMonitor.exe\" install",
        L"sm.exe CreateTextBMP \"C:\\Users\\Public\\Documents\\wm job.ini\"",
        L"sm.exe security \"Printer \\\"A\\\"\" 1 \"\" x", L"  leading \t\ttabs  ", L"\"unclosed program",
        L"p \"a\"\"b\" \"\"\"\" \"\"\"\"\"\" a\"\"\"b", L"p a\\\\\"b c\\\\\\\"d e\\\\ f\\", L"p \"end\\\\\"",
        L"\"C:\\a\"b c", L"p \u5370\u5237\u6a5f \"\u0414\u0440\u0443\u043a\"",
    };
    for (const wchar_t* line : lines)
        ExpectSplitLikeTheShell(line);
    // Every line of up to 9 characters drawn from the characters the rules treat apart.
    static const wchar_t alphabet[] = { L'a', L' ', L'\t', L'\\', L'"' };
    unsigned seed = 12345;
    for (int n = 0; n < 20000; n++) {
        std::wstring line = L"p ";
        seed = seed * 1103515245u + 12345u;
        int len = (int)((seed >> 16) % 10);
        for (int i = 0; i < len; i++) {
            seed = seed * 1103515245u + 12345u;
            line += alphabet[(seed >> 16) % ARRAYSIZE(alphabet)];
        }
        if (n % 7 == 0)
            line[0] = L'"';         // a quoted program name, sometimes never closed
        ExpectSplitLikeTheShell(line);
        if (HasFailure())
            break;
    }
}

TEST(ArgTable, BoundsAndCuts)
{
    static SM_ARGTABLE table;
    std::vector<std::wstring> args;
    for (int i = 0; i < 60; i++)
        args.push_back(L"arg" + std::to_wstring(i));
    args[2] = std::wstring(400, L'x');
    std::vector<LPWSTR> argv;
    for (auto& a : args)
        argv.push_back(&a[0]);
    argv[3] = NULL;

    memset(table, 0xCC, sizeof(table));
    EXPECT_EQ(SM_ARG_SLOTS, SM_FillArgTable(table, argv.data(), (int)argv.size()));
    EXPECT_STREQ(L"arg0", table[0]);
    EXPECT_EQ(259u, wcslen(table[2]));                  // cut to 259 characters
    EXPECT_STREQ(L"", table[3]);                        // a null argument reads as empty
    EXPECT_STREQ(L"arg49", table[49]);                  // the 50th slot is the last

    memset(table, 0xCC, sizeof(table));
    EXPECT_EQ(2, SM_FillArgTable(table, argv.data(), 2));
    for (int i = 2; i < SM_ARG_SLOTS; i++)
        EXPECT_STREQ(L"", table[i]);
}
