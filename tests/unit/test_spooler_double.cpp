// The test-double spooler itself, called in-process: what the monitor's tests rely on.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>
#include "smtest.h"
#include "spooler_state.h"

namespace {

HANDLE Open(const wchar_t* name, bool withDefaults = true)
{
    PRINTER_DEFAULTSW pd = { NULL, NULL, PRINTER_ALL_ACCESS };
    HANDLE h = NULL;
    if (!OpenPrinterW(const_cast<LPWSTR>(name), &h, withDefaults ? &pd : NULL))
        return NULL;
    return h;
}

} // namespace

TEST(SpoolerDouble, IsLoaded)
{
    EXPECT_TRUE(SmSpooler::DoubleLoaded());
}

TEST(SpoolerDouble, OpenKnownAndUnknownPrinters)
{
    SmSpooler sp(L"open");
    sp.AddTestPrinter(L"MFP One", L"USB001");
    HANDLE h = Open(L"MFP One");
    ASSERT_NE((HANDLE)NULL, h);
    EXPECT_TRUE(ClosePrinter(h));
    HANDLE h2 = (HANDLE)1;
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(L"No Such"), &h2, NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_PRINTER_NAME, GetLastError());
    EXPECT_EQ((HANDLE)NULL, h2);

    std::vector<spd::Call> calls = sp.Calls();
    ASSERT_EQ(3u, calls.size()) << SmDescribeCalls(sp);
    EXPECT_EQ("OpenPrinterW", calls[0].function);
    EXPECT_EQ("MFP One", calls[0].Arg("name"));
    EXPECT_EQ("0x000F000C", calls[0].Arg("access"));
    EXPECT_EQ("1", calls[0].Arg("rc"));
    EXPECT_EQ("ClosePrinter", calls[1].function);
    EXPECT_EQ("none", calls[2].Arg("access"));
    EXPECT_EQ("0", calls[2].Arg("rc"));
    EXPECT_EQ("1801", calls[2].Arg("err"));
}

TEST(SpoolerDouble, OpenPrinterAConvertsTheAnsiName)
{
    SmSpooler sp(L"opena");
    sp.AddTestPrinter(L"Dr\u00fccker", L"USB002");
    HANDLE h = NULL;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Dr\xfc" "cker"), &h, NULL));
    ClosePrinter(h);
    std::vector<spd::Call> calls = sp.Calls("OpenPrinterA");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("Dr\xc3\xbc" "cker", calls[0].Arg("name"));
    EXPECT_EQ("4472FC636B6572", calls[0].Arg("ansi"));
}

TEST(SpoolerDouble, GetPrinterLevel2)
{
    SmSpooler sp(L"getprinter");
    sp.AddTestPrinter(L"P", L"USB003", PRINTER_ATTRIBUTE_WORK_OFFLINE, PRINTER_STATUS_PAPER_JAM);
    sp.AddTestJob(L"P", 7, L"doc");
    HANDLE h = Open(L"P");
    ASSERT_NE((HANDLE)NULL, h);
    DWORD cb = 0;
    EXPECT_FALSE(GetPrinterW(h, 2, NULL, 0, &cb));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    ASSERT_GT(cb, sizeof(PRINTER_INFO_2W));
    std::vector<BYTE> buf(cb);
    ASSERT_TRUE(GetPrinterW(h, 2, buf.data(), cb, &cb));
    const PRINTER_INFO_2W* pi = reinterpret_cast<const PRINTER_INFO_2W*>(buf.data());
    EXPECT_STREQ(L"P", pi->pPrinterName);
    EXPECT_STREQ(L"USB003", pi->pPortName);
    EXPECT_EQ((DWORD)PRINTER_ATTRIBUTE_WORK_OFFLINE, pi->Attributes);
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, pi->Status);
    EXPECT_EQ(1u, pi->cJobs);
    EXPECT_FALSE(GetPrinterW(h, 7, buf.data(), cb, &cb));
    EXPECT_EQ((DWORD)ERROR_INVALID_LEVEL, GetLastError());
    ClosePrinter(h);
}

TEST(SpoolerDouble, SetPrinterLevel0SetsTheStatusWord)
{
    SmSpooler sp(L"setprinter");
    sp.AddTestPrinter(L"P");
    sp.AddTestPrinter(L"Q");
    HANDLE h = Open(L"P");
    ASSERT_NE((HANDLE)NULL, h);
    EXPECT_TRUE(SetPrinterW(h, 0, (LPBYTE)(ULONG_PTR)PRINTER_STATUS_DOOR_OPEN, PRINTER_CONTROL_SET_STATUS));
    EXPECT_EQ((DWORD)PRINTER_STATUS_DOOR_OPEN, sp.PrinterStatus(L"P"));
    EXPECT_EQ(0u, sp.PrinterStatus(L"Q"));
    EXPECT_TRUE(SetPrinterW(h, 0, NULL, PRINTER_CONTROL_SET_STATUS));
    EXPECT_EQ(0u, sp.PrinterStatus(L"P"));
    ClosePrinter(h);
    std::vector<spd::Call> calls = sp.Calls("SetPrinterW");
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("0x00400000", calls[0].Arg("status"));
    EXPECT_EQ("4", calls[0].Arg("command"));
    EXPECT_EQ("0x00000000", calls[1].Arg("status"));
}

TEST(SpoolerDouble, EnumJobsAndJobControl)
{
    SmSpooler sp(L"jobs");
    sp.AddTestPrinter(L"P");
    sp.AddTestPrinter(L"Other");
    sp.AddTestJob(L"P", 11, L"first");
    sp.AddTestJob(L"Other", 12, L"elsewhere");
    sp.AddTestJob(L"P", 13, L"second");
    HANDLE h = Open(L"P", false);
    ASSERT_NE((HANDLE)NULL, h);
    for (DWORD level = 1; level <= 2; level++) {
        DWORD cb = 0, n = 0;
        EXPECT_FALSE(EnumJobsW(h, 0, 255, level, NULL, 0, &cb, &n));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        std::vector<BYTE> buf(cb);
        ASSERT_TRUE(EnumJobsW(h, 0, 255, level, buf.data(), cb, &cb, &n));
        ASSERT_EQ(2u, n);
        if (level == 1) {
            const JOB_INFO_1W* j = reinterpret_cast<const JOB_INFO_1W*>(buf.data());
            EXPECT_EQ(11u, j[0].JobId);
            EXPECT_STREQ(L"second", j[1].pDocument);
        } else {
            const JOB_INFO_2W* j = reinterpret_cast<const JOB_INFO_2W*>(buf.data());
            EXPECT_EQ(13u, j[1].JobId);
            EXPECT_STREQ(L"first", j[0].pDocument);
        }
    }
    EXPECT_TRUE(SetJobW(h, 13, 0, NULL, JOB_CONTROL_RESTART));
    EXPECT_TRUE(SetJobW(h, 11, 0, NULL, JOB_CONTROL_DELETE));
    EXPECT_FALSE(SetJobW(h, 12, 0, NULL, JOB_CONTROL_CANCEL));     // another printer's job
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    std::vector<spd::Job> jobs = sp.Jobs();
    ASSERT_EQ(2u, jobs.size());
    EXPECT_EQ(12u, jobs[0].id);
    EXPECT_EQ(13u, jobs[1].id);
    EXPECT_EQ((DWORD)JOB_STATUS_RESTART, jobs[1].status);
    ClosePrinter(h);

    // An empty queue: the size query succeeds with nothing.
    sp.ClearJobs();
    h = Open(L"P");
    DWORD cb = 1, n = 1;
    EXPECT_TRUE(EnumJobsW(h, 0, 255, 1, NULL, 0, &cb, &n));
    EXPECT_EQ(0u, cb);
    EXPECT_EQ(0u, n);
    ClosePrinter(h);
}

TEST(SpoolerDouble, RawJobIsRecorded)
{
    SmSpooler sp(L"raw");
    sp.AddTestPrinter(L"P");
    HANDLE h = Open(L"P");
    ASSERT_NE((HANDLE)NULL, h);
    DOC_INFO_1W di = { const_cast<LPWSTR>(L"PreHeat"), NULL, NULL };
    DWORD id = StartDocPrinterW(h, 1, (LPBYTE)&di);
    ASSERT_NE(0u, id);
    ASSERT_EQ(1u, sp.Jobs().size());
    EXPECT_EQ(L"PreHeat", sp.Jobs()[0].document);
    EXPECT_TRUE(StartPagePrinter(h));
    DWORD written = 0;
    EXPECT_TRUE(WritePrinter(h, (LPVOID)"abc", 3, &written));
    EXPECT_EQ(3u, written);
    EXPECT_TRUE(WritePrinter(h, (LPVOID)"\0\x01", 2, &written));
    EXPECT_TRUE(EndPagePrinter(h));
    EXPECT_TRUE(EndDocPrinter(h));
    EXPECT_FALSE(EndDocPrinter(h));
    EXPECT_EQ((DWORD)ERROR_SPL_NO_STARTDOC, GetLastError());
    EXPECT_TRUE(sp.Jobs().empty());
    ClosePrinter(h);

    std::vector<spd::RawJob> raw = sp.RawJobs();
    ASSERT_EQ(1u, raw.size());
    EXPECT_EQ(L"P", raw[0].printer);
    EXPECT_EQ(id, raw[0].id);
    EXPECT_EQ(L"PreHeat", raw[0].document);
    EXPECT_EQ("ended", raw[0].state);
    EXPECT_EQ((std::vector<BYTE>{ 'a', 'b', 'c', 0, 1 }), raw[0].bytes);
}

TEST(SpoolerDouble, ClosingAnOpenDocumentRecordsIt)
{
    SmSpooler sp(L"rawclose");
    sp.AddTestPrinter(L"P");
    HANDLE h = Open(L"P");
    DOC_INFO_1W di = { const_cast<LPWSTR>(L"Doc"), NULL, const_cast<LPWSTR>(L"RAW") };
    ASSERT_NE(0u, StartDocPrinterW(h, 1, (LPBYTE)&di));
    DWORD written = 0;
    WritePrinter(h, (LPVOID)"x", 1, &written);
    ClosePrinter(h);
    std::vector<spd::RawJob> raw = sp.RawJobs();
    ASSERT_EQ(1u, raw.size());
    EXPECT_EQ("closed", raw[0].state);
    EXPECT_EQ(L"RAW", raw[0].datatype);
    EXPECT_TRUE(sp.Jobs().empty());
}

TEST(SpoolerDouble, SetPrinterDataIsRecordedExactly)
{
    SmSpooler sp(L"data");
    sp.AddTestPrinter(L"P");
    HANDLE h = Open(L"P");
    const wchar_t id[] = L"1234";
    EXPECT_EQ((DWORD)ERROR_SUCCESS, SetPrinterDataW(h, const_cast<LPWSTR>(L"SecID"), REG_SZ, (LPBYTE)id, sizeof(id)));
    DWORD v = 1;
    EXPECT_EQ((DWORD)ERROR_SUCCESS, SetPrinterDataW(h, const_cast<LPWSTR>(L"SecRemoveFile"), REG_DWORD, (LPBYTE)&v, 4));
    DWORD type = 0, cb = 0;
    BYTE buf[64];
    EXPECT_EQ((DWORD)ERROR_SUCCESS, GetPrinterDataW(h, const_cast<LPWSTR>(L"SecID"), &type, buf, sizeof(buf), &cb));
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(sizeof(id), cb);
    ClosePrinter(h);

    std::vector<spd::DataValue> values = sp.DataValues();
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ(L"SecID", values[0].name);
    EXPECT_EQ((DWORD)REG_SZ, values[0].type);
    EXPECT_EQ(10u, values[0].size);
    EXPECT_EQ((std::vector<BYTE>{ '1', 0, '2', 0, '3', 0, '4', 0, 0, 0 }), values[0].bytes);
    EXPECT_EQ((DWORD)REG_DWORD, values[1].type);
    EXPECT_EQ((std::vector<BYTE>{ 1, 0, 0, 0 }), values[1].bytes);
}

TEST(SpoolerDouble, FailSwitch)
{
    SmSpooler sp(L"fail");
    sp.AddTestPrinter(L"P");
    sp.AddTestJob(L"P", 5, L"doc");
    sp.SetFail("EnumJobsW", ERROR_ACCESS_DENIED);
    sp.SetFail("WritePrinter", ERROR_NOT_ENOUGH_MEMORY, 2);
    HANDLE h = Open(L"P");
    ASSERT_NE((HANDLE)NULL, h);
    DWORD cb = 0, n = 0;
    EXPECT_FALSE(EnumJobsW(h, 0, 255, 1, NULL, 0, &cb, &n));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(0u, cb);

    DOC_INFO_1W di = { const_cast<LPWSTR>(L"Doc"), NULL, NULL };
    ASSERT_NE(0u, StartDocPrinterW(h, 1, (LPBYTE)&di));
    DWORD written = 0;
    EXPECT_TRUE(WritePrinter(h, (LPVOID)"a", 1, &written));
    EXPECT_FALSE(WritePrinter(h, (LPVOID)"b", 1, &written));
    EXPECT_EQ((DWORD)ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    EXPECT_FALSE(WritePrinter(h, (LPVOID)"c", 1, &written));

    sp.ClearFail();
    EXPECT_TRUE(EnumJobsW(h, 0, 255, 1, NULL, 0, &cb, &n) || GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    sp.SetFail("OpenPrinterW", ERROR_ACCESS_DENIED);
    HANDLE h2 = NULL;
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(L"P"), &h2, NULL));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    ClosePrinter(h);
    std::vector<spd::Call> opens = sp.Calls("OpenPrinterW");
    ASSERT_EQ(2u, opens.size());
    EXPECT_EQ("1", opens[1].Arg("forced"));
}

TEST(SpoolerDouble, WithoutTheVariableTheBuiltinAnswers)
{
    // No state folder: OpenPrinterW goes to Wine's builtin, which knows no such printer.
    ASSERT_EQ(0u, GetEnvironmentVariableW(L"SM_SPOOLER_DIR", NULL, 0));
    HANDLE h = NULL;
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(L"SmNoSuchPrinterAnywhere"), &h, NULL));
    // An unmodelled call passes through as well and returns normally.
    DWORD cch = 0;
    GetDefaultPrinterW(NULL, &cch);
    DWORD cb = 0, n = 0;
    SetLastError(0);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cb, &n)) {
        EXPECT_NE((DWORD)ERROR_NOT_SUPPORTED, GetLastError());   // the builtin, not the double's fallback
    }
}
