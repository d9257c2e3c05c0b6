// File locations: every base directory and mode of MISC_GetPathName, the UTF-16 check,
// profile writes that fail.
#include <gtest/gtest.h>
#include "util/misc.h"
#include "smtest.h"
#include <string>
#include <algorithm>

namespace {

const wchar_t kShellFolders[] = L"software\\microsoft\\windows\\currentversion\\explorer\\shell folders";

std::wstring WithSlash(std::wstring s)
{
    if (!s.empty() && s.back() != L'\\')
        s += L'\\';
    return s;
}

std::wstring TempDir()
{
    WCHAR buf[MAX_PATH];
    GetTempPathW(MAX_PATH, buf);
    return WithSlash(buf);
}

std::wstring GetPath(DWORD flags, int* pRc, DWORD cch = SM_CCH_PATH)
{
    std::vector<WCHAR> buf(cch + 8, 0xCCCC);
    *pRc = MISC_GetPathName(buf.data(), cch, flags);
    EXPECT_EQ(0xCCCC, buf[cch]) << "written past the given length";
    return std::wstring(buf.data());
}

bool EndsWith(const std::wstring& s, const std::wstring& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(GetPathName, BaseDirectories)
{
    WCHAR win[MAX_PATH], sys[MAX_PATH], cur[MAX_PATH];
    GetWindowsDirectoryW(win, MAX_PATH);
    GetSystemDirectoryW(sys, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, cur);
    std::wstring winTemp = WithSlash(win) + L"temp\\";
    CreateDirectoryW(winTemp.c_str(), NULL);

    static const DWORD flags[] = { 0x0, 0x10000, 0x20000, 0x40000, 0x80000, 0x200000 };
    const std::wstring expected[] = { SmSharedDocuments(), winTemp, WithSlash(sys), WithSlash(win),
                                      WithSlash(cur), TempDir() };
    for (size_t i = 0; i < ARRAYSIZE(flags); i++) {
        int rc = -1;
        std::wstring path = GetPath(flags[i], &rc);
        EXPECT_EQ(1, rc) << std::hex << flags[i];
        EXPECT_EQ(0, lstrcmpiW(expected[i].c_str(), path.c_str())) << std::hex << flags[i];
    }
}

TEST(GetPathName, DriverDirectoryOnlyWhenItExists)
{
    WCHAR sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    std::wstring drivers = std::wstring(sys) + L"\\spool\\drivers\\w32x86\\3\\";
    int rc = -1;
    std::wstring path = GetPath(0x100000, &rc);
    if (MISC_IsDirectory(drivers.c_str())) {
        EXPECT_EQ(1, rc);
        EXPECT_EQ(0, lstrcmpiW(drivers.c_str(), path.c_str()));
    } else {
        EXPECT_EQ(0, rc);
        CreateDirectoryW((std::wstring(sys) + L"\\spool").c_str(), NULL);
        CreateDirectoryW((std::wstring(sys) + L"\\spool\\drivers").c_str(), NULL);
        CreateDirectoryW((std::wstring(sys) + L"\\spool\\drivers\\w32x86").c_str(), NULL);
        ASSERT_TRUE(CreateDirectoryW(drivers.c_str(), NULL));
        path = GetPath(0x100000, &rc);
        EXPECT_EQ(1, rc);
        EXPECT_EQ(0, lstrcmpiW(drivers.c_str(), path.c_str()));
        RemoveDirectoryW(drivers.c_str());
    }
}

TEST(GetPathName, Failures)
{
    int rc = -1;
    EXPECT_EQ(L"", GetPath(0x30000, &rc));          // no such base directory
    EXPECT_EQ(0, rc);
    EXPECT_EQ(L"", GetPath(0x400000, &rc));
    EXPECT_EQ(0, rc);
    EXPECT_EQ(0, MISC_GetPathName(NULL, 260, 0x200000));

    // A buffer too small for the directory, or for the file name after it.
    std::wstring temp = TempDir();
    GetPath(0x200000, &rc, (DWORD)temp.size());
    EXPECT_EQ(0, rc);
    GetPath(0x200000 | 0x100, &rc, (DWORD)temp.size() + 5);
    EXPECT_EQ(0, rc);

    // The current directory set to one that is then removed.
    WCHAR saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    std::wstring gone = SmTempDir(L"gone");
    SetCurrentDirectoryW(gone.c_str());
    RemoveDirectoryW(gone.c_str());
    bool removed = GetFileAttributesW(gone.c_str()) == INVALID_FILE_ATTRIBUTES;
    std::wstring path = GetPath(0x80000, &rc);
    SetCurrentDirectoryW(saved);
    if (removed) {
        EXPECT_EQ(0, rc);
    }
}

TEST(GetPathName, SharedDocumentsValueMustFitTwoHundredSixtyBytes)
{
    std::vector<BYTE> original;
    DWORD type = 0;
    ASSERT_TRUE(SmRegReadString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Documents", &original, &type));
    HKEY h = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFolders, 0, KEY_SET_VALUE, &h));
    auto setValue = [&](const std::wstring& v) {
        RegSetValueExW(h, L"Common Documents", 0, REG_SZ, (const BYTE*)v.c_str(), (DWORD)((v.size() + 1) * 2));
    };
    // The same folder spelled with "\." steps: 129 characters fit the 260 bytes, 131 do not.
    std::wstring fits = SmSharedDocuments();
    fits.pop_back();
    if ((129 - fits.size()) % 2)
        fits += L"\\..\\Documents";
    while (fits.size() < 129)
        fits += L"\\.";
    ASSERT_EQ(129u, fits.size());
    int rc = -1;
    setValue(fits);
    std::wstring path = GetPath(0, &rc);
    EXPECT_EQ(1, rc);
    setValue(fits + L"\\.");
    path = GetPath(0, &rc);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(L"", path);
    setValue(std::wstring(300, L'x'));
    path = GetPath(0, &rc);
    EXPECT_EQ(0, rc);
    RegSetValueExW(h, L"Common Documents", 0, type, original.data(), (DWORD)original.size());
    RegCloseKey(h);
    path = GetPath(0, &rc);
    EXPECT_EQ(1, rc);
}

TEST(GetPathName, ExchangeFilePreparedAsUtf16)
{
    std::wstring ini = TempDir() + L"StatusMonitorV3.ini";
    static const BYTE bom[] = { 0xFF, 0xFE };
    int rc = -1;

    // Missing: created holding only the mark.
    DeleteFileW(ini.c_str());
    EXPECT_EQ(ini, GetPath(0x200000 | 8, &rc));
    EXPECT_EQ(1, rc);
    EXPECT_EQ(std::vector<BYTE>(bom, bom + 2), SmReadFile(ini));

    // Already UTF-16: untouched.
    static const BYTE utf16[] = { 0xFF, 0xFE, '[', 0, 'x', 0, ']', 0 };
    ASSERT_TRUE(SmWriteFile(ini, utf16, sizeof(utf16)));
    GetPath(0x200000 | 8, &rc);
    EXPECT_EQ(1, rc);
    EXPECT_EQ(std::vector<BYTE>(utf16, utf16 + sizeof(utf16)), SmReadFile(ini));

    // Another encoding: replaced by an empty UTF-16 file.
    ASSERT_TRUE(SmWriteFile(ini, "[Printer Information]\r\n", 23));
    GetPath(0x200000 | 8, &rc);
    EXPECT_EQ(1, rc);
    EXPECT_EQ(std::vector<BYTE>(bom, bom + 2), SmReadFile(ini));

    // Name only: no check, no file.
    DeleteFileW(ini.c_str());
    EXPECT_EQ(ini, GetPath(0x200000 | 0x100, &rc));
    EXPECT_EQ(1, rc);
    EXPECT_FALSE(MISC_FileExists(ini.c_str()));
}

// Whatever stops the check from reading the file, the driver's announcement in it survives start-up.
TEST(GetPathName, ExchangeFileKeptUnlessReadAsOtherEncoding)
{
    // 110 bytes of UTF-16: the mark, then "[Printer Information]\r\nMessage=1027\r\nLastMsg=9\r\n" cut to fit.
    std::vector<BYTE> announced = { 0xFF, 0xFE };
    for (const char* p = "[Printer Information]\r\nMessage=1027\r\nLastMsg=9\r\nStatus=5|\r\n"; announced.size() < 110; p++)
        announced.insert(announced.end(), { (BYTE)*p, 0 });
    const std::vector<BYTE> ansi = { '[', 'a', ']', '\r', '\n' };
    const std::vector<BYTE> bom = { 0xFF, 0xFE };
    static const struct Case {
        const wchar_t* folder;          // under the temporary directory
        bool present;
        bool ansiContent;
        bool readersLockedOut;          // another process holds it open, sharing only writes
        bool expectKept;
    } cases[] = {
        { L"smtest_\u0414\u043e\u043a\u0443", true,  false, false, true },   // no exact ANSI spelling
        { L"smtest_\u0414\u043e\u043a\u0443", false, false, false, false },  // absent there: made
        { L"smtest_locked",                   true,  false, true,  true },
        { L"smtest_locked",                   true,  true,  true,  true },   // not read, so not judged
        { L"smtest_locked",                   true,  true,  false, false },  // read and not UTF-16: replaced
    };
    WCHAR saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    for (const Case& c : cases) {
        std::wstring dir = TempDir() + c.folder + L"\\";
        CreateDirectoryW(dir.c_str(), NULL);
        std::wstring ini = dir + L"StatusMonitorV3.ini";
        const std::vector<BYTE>& content = c.ansiContent ? ansi : announced;
        DeleteFileW(ini.c_str());
        if (c.present) {
            ASSERT_TRUE(SmWriteFile(ini, content.data(), content.size()));
        }
        // Readers fail with a sharing violation; a writer that truncates would not.
        HANDLE hLock = INVALID_HANDLE_VALUE;
        if (c.readersLockedOut) {
            hLock = CreateFileW(ini.c_str(), GENERIC_READ, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
        }
        ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
        int rc = -1;
        std::wstring path = GetPath(0x80000 | 8, &rc);
        SetCurrentDirectoryW(saved);
        if (hLock != INVALID_HANDLE_VALUE)
            CloseHandle(hLock);
        SCOPED_TRACE(SmNarrow(c.folder) + (c.present ? " present" : " absent"));
        EXPECT_EQ(1, rc);
        EXPECT_EQ(0, lstrcmpiW(ini.c_str(), path.c_str()));
        EXPECT_EQ(c.expectKept ? content : bom, SmReadFile(ini));
    }
    // Making the file never truncates one that exists.
    std::wstring ini = TempDir() + L"smtest_locked\\StatusMonitorV3.ini";
    ASSERT_TRUE(SmWriteFile(ini, announced.data(), announced.size()));
    MISC_CreateUniFile(ini.c_str());
    EXPECT_EQ(announced, SmReadFile(ini));
}

TEST(GetPathName, UniqueTemporaryNames)
{
    static const struct { DWORD flags; const wchar_t* ext; } cases[] = {
        { 0x200000 | 0x10, L".bmp" },
        { 0x200000 | 0x200, L".txt" },
        { 0x200000 | 0x40, L".spl" },
        { 0x200000 | 0x10 | 0x40, L".spl" },
        { 0x200000 | 0x200 | 0x10, L".bmp" },
        { 0x200000 | 0x1, L"" },
    };
    std::wstring temp = TempDir();
    std::wstring previous;
    for (const auto& c : cases) {
        int rc = -1;
        std::wstring path = GetPath(c.flags, &rc);
        SCOPED_TRACE(testing::Message() << std::hex << c.flags);
        ASSERT_EQ(1, rc);
        EXPECT_EQ(0, lstrcmpiW(temp.c_str(), path.substr(0, temp.size()).c_str()));
        EXPECT_EQ(L'$', path[temp.size()]);
        if (*c.ext)
            EXPECT_TRUE(EndsWith(path, c.ext)) << SmNarrow(path);
        else
            EXPECT_EQ(std::wstring::npos, path.find(L'.', temp.size()));
        EXPECT_FALSE(MISC_FileExists(path.c_str()));    // the placeholder file is gone
        // "$" + hex digits + minute_second_ms_factor1_factor2
        std::wstring name = path.substr(temp.size() + 1);
        name = name.substr(0, name.size() - wcslen(c.ext));
        EXPECT_EQ(4, std::count(name.begin(), name.end(), L'_')) << SmNarrow(name);
        EXPECT_NE(previous, path);
        previous = path;
    }
    // No .tmp file left behind by the name making.
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((temp + L"$*.tmp").c_str(), &fd);
    EXPECT_EQ(INVALID_HANDLE_VALUE, hFind);
    if (hFind != INVALID_HANDLE_VALUE)
        FindClose(hFind);
}

TEST(UniFile, CheckResults)
{
    std::wstring dir = SmTempDir(L"uni");
    std::wstring path = dir + L"f.ini";
    static const struct { const char* bytes; size_t cb; int rc; } cases[] = {
        { "\xFF\xFE", 2, 1 },
        { "\xFF\xFE[\0a\0", 6, 1 },
        { "\xFE\xFF", 2, -2 },
        { "\xFF", 1, -2 },
        { "", 0, -2 },
        { "[a]", 3, -2 },
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SmWriteFile(path, c.bytes, c.cb));
        EXPECT_EQ(c.rc, MISC_CheckUniFile(path.c_str())) << c.cb;
    }
    DeleteFileW(path.c_str());
    EXPECT_EQ(-1, MISC_CheckUniFile(path.c_str()));

    EXPECT_EQ(1, MISC_CreateUniFile(path.c_str()));
    EXPECT_EQ(2u, SmReadFile(path).size());
    EXPECT_EQ(1, MISC_CreateUniFile((dir + L"missing\\x.ini").c_str()));   // reported as done all the same
}

TEST(UniFile, AddBackslashIsBounded)
{
    WCHAR buf[4] = L"abc";
    EXPECT_EQ(0, MISC_AddBackslash(buf, ARRAYSIZE(buf)));
    EXPECT_STREQ(L"abc", buf);
    WCHAR buf2[5] = L"abc";
    EXPECT_EQ(1, MISC_AddBackslash(buf2, ARRAYSIZE(buf2)));
    EXPECT_STREQ(L"abc\\", buf2);
    EXPECT_EQ(1, MISC_AddBackslash(buf2, ARRAYSIZE(buf2)));
    EXPECT_STREQ(L"abc\\", buf2);
    EXPECT_EQ(0, MISC_AddBackslash(NULL, 10));
}

TEST(ProfileWrite, FailsWhileFileIsLockedThenSucceeds)
{
    std::wstring path = SmTempDir(L"profile") + L"x.ini";
    MISC_CreateUniFile(path.c_str());
    HANDLE hLock = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    EXPECT_EQ(0, MISC_WriteProfileString(path.c_str(), L"Printer Information", L"Message", L"0"));
    CloseHandle(hLock);
    EXPECT_EQ(1, MISC_WriteProfileString(path.c_str(), L"Printer Information", L"Message", L"1028"));
    EXPECT_EQ(1028u, GetPrivateProfileIntW(L"Printer Information", L"Message", 0, path.c_str()));
    std::vector<BYTE> data = SmReadFile(path);
    ASSERT_GE(data.size(), 2u);
    EXPECT_EQ(0xFF, data[0]);
    EXPECT_EQ(0xFE, data[1]);
}

TEST(ExchangeFile, Accessors)
{
    WCHAR saved[SM_CCH_PATH];
    wcscpy_s(saved, g_StatusIniPath);
    std::wstring path = SmTempDir(L"accessors") + L"StatusMonitorV3.ini";
    MISC_CreateUniFile(path.c_str());
    wcscpy_s(g_StatusIniPath, path.c_str());

    EXPECT_EQ(0, SM_GetPrinterNameFromIni());
    EXPECT_EQ(7u, SM_GetIniInt(L"Printer Information", L"Message", 7));
    std::wstring longName(300, L'P');
    WritePrivateProfileStringW(L"Printer Information", L"PrinterName", longName.c_str(), path.c_str());
    WritePrivateProfileStringW(L"Printer Information", L"Message", L"1027", path.c_str());
    EXPECT_EQ(1, SM_GetPrinterNameFromIni());
    EXPECT_EQ(255u, wcslen(g_MonitorPrinterName));
    EXPECT_EQ(1027u, SM_GetIniInt(L"Printer Information", L"Message", 0));
    WCHAR small[8];
    memset(small, 0xCC, sizeof(small));
    EXPECT_EQ(7u, SM_GetIniString(L"Printer Information", L"PrinterName", small, ARRAYSIZE(small)));
    EXPECT_EQ(L'\0', small[7]);
    wcscpy_s(g_StatusIniPath, saved);
}
