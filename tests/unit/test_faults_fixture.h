// In-process monitor tests: a private exchange file, the test-double spooler, and the monitor's
// process-wide state saved and put back around each test.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>
#include <memory>
#include <string>
#include "app/app.h"
#include "status/status.h"
#include "util/misc.h"
#include "smtest.h"
#include "spooler_state.h"

class MonitorUnit : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        std::wstring wname(name.begin(), name.end());
        m_spooler.reset(new SmSpooler(wname));
        m_ini = SmTempDir(L"mon_" + wname) + L"StatusMonitorV3.ini";
        static const BYTE bom[] = { 0xFF, 0xFE };
        SmWriteFile(m_ini, bom, sizeof(bom));
        wcscpy_s(m_savedIni, g_StatusIniPath);
        wcscpy_s(g_StatusIniPath, m_ini.c_str());
        m_savedOs = g_OSVersion;
        g_OSVersion = MISC_OS_WIN7;
        g_LastSpoolerStatus = -1;
        g_SpoolerBusy = FALSE;
        ZeroMemory(g_StoreName, sizeof(g_StoreName));
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
        g_LastMsg = 0;
        wcscpy_s(g_MsgIniPath, SM_MSG_INI_NAME);
        // No status dialog unless a test asks for one.
        Ini(L"ShowQelSM", L"0");
        Ini(L"PrinterName", L"MFP");
        Sp().AddTestPrinter(L"MFP", L"USB001");
    }

    void TearDown() override
    {
        if (g_hStatusDlg) {
            DestroyWindow(g_hStatusDlg);
            g_hStatusDlg = NULL;
        }
        wcscpy_s(g_StatusIniPath, m_savedIni);
        g_OSVersion = m_savedOs;
        g_LastSpoolerStatus = -1;
        g_SpoolerBusy = FALSE;
        ZeroMemory(g_StoreName, sizeof(g_StoreName));
        ZeroMemory(g_ShownErrCodes, sizeof(g_ShownErrCodes));
        m_spooler.reset();
    }

    SmSpooler& Sp() { return *m_spooler; }

    void Ini(LPCWSTR key, LPCWSTR value, LPCWSTR section = SM_SECTION_PRINTER)
    {
        ASSERT_TRUE(WritePrivateProfileStringW(section, key, value, m_ini.c_str()));
    }
    void JobId(DWORD id)
    {
        Ini(L"JobID", std::to_wstring(id).c_str(), SM_SECTION_JOB);
    }

    // The status words the monitor sent, in order.
    std::vector<std::string> StatusWords() const
    {
        std::vector<std::string> words;
        for (const spd::Call& c : m_spooler->Calls("SetPrinterW"))
            words.push_back(c.Arg("status"));
        return words;
    }

    std::unique_ptr<SmSpooler> m_spooler;
    std::wstring m_ini;
    WCHAR m_savedIni[SM_CCH_PATH];
    WORD m_savedOs;
};
