// Driver settings key: the key chain created on first use, the value written, the traces.
#include <gtest/gtest.h>
#include "util/misc.h"
#include "util/trace.h"
#include "trace_capture.h"

namespace {

const wchar_t kVendorKey[] = L"software\\ZorvekData";

std::vector<std::string> TracedCall(const wchar_t* valueName, DWORD value, const wchar_t* keyName, int* pRc)
{
    TraceCapture trace(L"registry");
    *pRc = MISC_SetRegValue(valueName, value, keyName);
    return trace.Lines();
}

}  // namespace

TEST(Registry, KeyChainCreatedOnceThenReused)
{
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
    int rc = -1;
    std::vector<std::string> lines = TracedCall(L"AtmMode", 1, L"UnitMonitor", &rc);
    EXPECT_EQ(1, rc);
    EXPECT_EQ(1, SmCount(lines, "[MISC_OpenRegKey]::ZorvekData key create succ"));
    EXPECT_EQ(2, SmCount(lines, "[MISC_OpenRegKey]::Printer key create succ"));
    EXPECT_TRUE(SmContains(lines, "[MISC_SetRegValue]::value = 1"));
    EXPECT_TRUE(SmContains(lines, "[MISC_SetRegValue]::Success"));

    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(SmRegReadString(HKEY_LOCAL_MACHINE, L"software\\ZorvekData\\Printer\\UnitMonitor", L"AtmMode",
                                &data, &type));
    EXPECT_EQ((DWORD)REG_DWORD, type);
    ASSERT_EQ(4u, data.size());
    EXPECT_EQ(1u, *reinterpret_cast<DWORD*>(data.data()));

    lines = TracedCall(L"Language", 2052, L"UnitMonitor", &rc);
    EXPECT_EQ(1, rc);
    EXPECT_EQ(0, SmCount(lines, "create succ"));
    DWORD value = 0;
    ASSERT_TRUE(SmRegReadDword(HKEY_LOCAL_MACHINE, L"software\\ZorvekData\\Printer\\UnitMonitor", L"Language", &value));
    EXPECT_EQ(2052u, value);

    // A second program name gets a key of its own beside the first.
    lines = TracedCall(L"AtmMode", 0xFFFFFFFF, L"OtherMonitor", &rc);
    EXPECT_EQ(1, rc);
    EXPECT_EQ(0, SmCount(lines, "ZorvekData key create succ"));
    EXPECT_EQ(1, SmCount(lines, "Printer key create succ"));
    ASSERT_TRUE(SmRegReadDword(HKEY_LOCAL_MACHINE, L"software\\ZorvekData\\Printer\\OtherMonitor", L"AtmMode", &value));
    EXPECT_EQ(0xFFFFFFFFu, value);
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
}

TEST(Registry, OpenKeyHandsBackAnOpenKey)
{
    HKEY hKey = (HKEY)0x1234;
    ASSERT_EQ(1, MISC_OpenRegKey(&hKey, L"UnitMonitor"));
    ASSERT_NE((HKEY)NULL, hKey);
    DWORD v = 9;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(hKey, L"Probe", 0, REG_DWORD, (const BYTE*)&v, sizeof(v)));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
    EXPECT_EQ(0, MISC_OpenRegKey(NULL, L"UnitMonitor"));
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
}

TEST(Registry, ValueThatCannotBeSetIsTracedAndStillReportsOne)
{
    // A value name longer than the registry allows makes the set fail.
    std::wstring tooLong(20000, L'v');
    int rc = -1;
    std::vector<std::string> lines = TracedCall(tooLong.c_str(), 3, L"UnitMonitor", &rc);
    EXPECT_EQ(1, rc);
    EXPECT_TRUE(SmContains(lines, "[MISC_SetRegValue]::NO value to read!-------------------------------------->ERROR"));
    SmRegDeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
}
