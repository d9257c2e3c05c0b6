// Fault-list parsing, the status-word table, the spooler status word and job control, in-process
// against the test-double spooler.
#include "test_faults_fixture.h"
#include "trace_capture.h"
#include <vector>

namespace {

struct Parsed {
    std::vector<LONG> codes;      // the slots up to the count
    DWORD count;
    std::wstring storeName;
    bool zeroAfter;               // every slot after the count is 0
    bool guardIntact;             // nothing written past the 48 slots
};

Parsed Parse(const wchar_t* status, const wchar_t* storeBefore = L"")
{
    const LONG guard = 0x5A5A5A5A;
    LONG slots[SM_MAX_ERRCODES + 16];
    for (LONG& s : slots)
        s = guard;
    ZeroMemory(slots, SM_MAX_ERRCODES * sizeof(LONG));
    WCHAR store[SM_CCH_STORE_NAME];
    wcscpy_s(store, storeBefore);
    Parsed p;
    p.count = SM_ParseErrCodes(status, slots, store, ARRAYSIZE(store));
    p.codes.assign(slots, slots + (p.count <= SM_MAX_ERRCODES ? p.count : SM_MAX_ERRCODES));
    p.storeName = store;
    p.zeroAfter = true;
    for (DWORD i = p.count; i < SM_MAX_ERRCODES; i++)
        p.zeroAfter = p.zeroAfter && slots[i] == 0;
    p.guardIntact = true;
    for (int i = SM_MAX_ERRCODES; i < SM_MAX_ERRCODES + 16; i++)
        p.guardIntact = p.guardIntact && slots[i] == guard;
    return p;
}

} // namespace

TEST(FaultParse, FieldsEndedByBars)
{
    Parsed p = Parse(L"33|5|");
    EXPECT_EQ(2u, p.count);
    EXPECT_EQ((std::vector<LONG>{ 33, 5 }), p.codes);
    EXPECT_TRUE(p.zeroAfter);
}

TEST(FaultParse, TextAfterTheLastBarIsIgnored)
{
    Parsed p = Parse(L"5|7");
    EXPECT_EQ((std::vector<LONG>{ 5 }), p.codes);
    EXPECT_EQ(0u, Parse(L"5").count);
    EXPECT_EQ(0u, Parse(L"").count);
}

TEST(FaultParse, Code112IsDropped)
{
    Parsed p = Parse(L"112|5|112|");
    EXPECT_EQ((std::vector<LONG>{ 5 }), p.codes);
    EXPECT_EQ(0u, Parse(L"112|").count);
}

TEST(FaultParse, EmptyAndNonNumericFieldsAreCodeZero)
{
    EXPECT_EQ((std::vector<LONG>{ 0 }), Parse(L"abc|").codes);
    EXPECT_EQ((std::vector<LONG>{ 0, 0 }), Parse(L"||").codes);
    EXPECT_EQ((std::vector<LONG>{ 33, 0, 5 }), Parse(L"33||5|").codes);
}

TEST(FaultParse, SignBlanksAndTrailingText)
{
    Parsed p = Parse(L" -5|+7|  12abc|\t9|");
    EXPECT_EQ((std::vector<LONG>{ -5, 7, 12, 9 }), p.codes);
    EXPECT_EQ((std::vector<LONG>{ 65535, 0 }), Parse(L"65535|- 3|").codes);
}

TEST(FaultParse, StoreNameField)
{
    Parsed p = Parse(L"StoreName|Report 12|277|33|");
    EXPECT_EQ(L"Report 12", p.storeName);
    EXPECT_EQ((std::vector<LONG>{ 277, 33 }), p.codes);

    p = Parse(L"StoreName|x|", L"old");
    EXPECT_EQ(0u, p.count);
    EXPECT_EQ(L"x", p.storeName);

    // The word is exact and case-sensitive; a value without it keeps the earlier name.
    p = Parse(L"storename|x|", L"old");
    EXPECT_EQ((std::vector<LONG>{ 0, 0 }), p.codes);
    EXPECT_EQ(L"old", p.storeName);

    // The last of several names wins; an empty name is a name.
    p = Parse(L"StoreName|a|5|StoreName||", L"old");
    EXPECT_EQ((std::vector<LONG>{ 5 }), p.codes);
    EXPECT_EQ(L"", p.storeName);
}

TEST(FaultParse, StoreNameWithoutAnEndedNameIsIgnored)
{
    Parsed p = Parse(L"5|StoreName|", L"old");
    EXPECT_EQ((std::vector<LONG>{ 5 }), p.codes);
    EXPECT_EQ(L"old", p.storeName);
    p = Parse(L"5|StoreName|tail without bar", L"old");
    EXPECT_EQ((std::vector<LONG>{ 5 }), p.codes);
    EXPECT_EQ(L"old", p.storeName);
}

TEST(FaultParse, OnlyTheFirst48CodesAreKept)
{
    std::wstring value;
    for (int i = 1; i <= 60; i++)
        value += std::to_wstring(i) + L"|";
    Parsed p = Parse(value.c_str());
    EXPECT_EQ(48u, p.count);
    EXPECT_EQ(1, p.codes.front());
    EXPECT_EQ(48, p.codes.back());
    EXPECT_TRUE(p.guardIntact);

    // 129 empty fields (a 259-character value of bars alone).
    Parsed bars = Parse(std::wstring(259, L'|').c_str());
    EXPECT_EQ(48u, bars.count);
    EXPECT_TRUE(bars.guardIntact);
}

// What the parser tells its listener of each field: the same walk that fills the list.
TEST(FaultParse, EveryFieldIsReportedWithWhatBecameOfIt)
{
    struct Seen {
        SM_FIELD_KIND kind;
        std::wstring text;
        bool operator==(const Seen& o) const { return kind == o.kind && text == o.text; }
    };
    auto walk = [](const std::wstring& status) {
        std::vector<Seen> seen;
        LONG slots[SM_MAX_ERRCODES] = {};
        WCHAR store[SM_CCH_STORE_NAME] = L"";
        SM_WalkStatusFields(status.c_str(), slots, store, ARRAYSIZE(store),
                            [](void* ctx, SM_FIELD_KIND kind, LPCWSTR psz, size_t cch, LONG) {
                                static_cast<std::vector<Seen>*>(ctx)->push_back({ kind, std::wstring(psz, cch) });
                            }, &seen);
        return seen;
    };
    std::wstring fortyEight;
    for (int i = 1; i <= 48; i++)
        fortyEight += L"7|";
    const struct {
        std::wstring status;
        std::vector<Seen> expected;
    } cases[] = {
        { L"StoreName|Q3|33|112|5|x",
          { { SM_FIELD_STORE_NAME, L"Q3" }, { SM_FIELD_CODE_KEPT, L"33" }, { SM_FIELD_CODE_BUSY, L"112" },
            { SM_FIELD_CODE_KEPT, L"5" }, { SM_FIELD_TRAILING_TEXT, L"x" } } },
        { L"5|StoreName|tail", { { SM_FIELD_CODE_KEPT, L"5" }, { SM_FIELD_STORE_NAME_UNENDED, L"StoreName|tail" } } },
        { fortyEight + L"9|112|", {} },
    };
    for (const auto& c : cases) {
        std::vector<Seen> seen = walk(c.status);
        if (!c.expected.empty()) {
            EXPECT_TRUE(seen == c.expected) << SmNarrow(c.status);
            continue;
        }
        ASSERT_EQ(50u, seen.size());
        EXPECT_EQ(SM_FIELD_CODE_KEPT, seen[47].kind);
        EXPECT_TRUE((seen[48] == Seen{ SM_FIELD_CODE_PAST_LIMIT, L"9" }));
        EXPECT_TRUE((seen[49] == Seen{ SM_FIELD_CODE_BUSY, L"112" }));
    }
}

TEST_F(MonitorUnit, GetErrCodeReadsStatusFromTheExchangeFile)
{
    Ini(L"Status", L"StoreName|Q3 report|277|33|");
    LONG codes[SM_MAX_ERRCODES] = {};
    DWORD count = 99;
    GetErrCode(codes, &count);
    EXPECT_EQ(2u, count);
    EXPECT_EQ(277, codes[0]);
    EXPECT_EQ(33, codes[1]);
    EXPECT_EQ(0, codes[2]);
    EXPECT_STREQ(L"Q3 report", g_StoreName);

    // A value without a store name leaves the name as it was.
    Ini(L"Status", L"5|");
    ZeroMemory(codes, sizeof(codes));
    GetErrCode(codes, &count);
    EXPECT_EQ(1u, count);
    EXPECT_STREQ(L"Q3 report", g_StoreName);

    // No "Status" key at all: no codes.
    WritePrivateProfileStringW(SM_SECTION_PRINTER, L"Status", NULL, m_ini.c_str());
    GetErrCode(codes, &count);
    EXPECT_EQ(0u, count);
}

TEST_F(MonitorUnit, GetErrCodeReadsAtMost259Characters)
{
    // "StoreName|" (10) + a 240-character name + "|" + "5|": 253 characters, all read.
    std::wstring name(240, L'n');
    Ini(L"Status", (L"StoreName|" + name + L"|5|").c_str());
    LONG codes[SM_MAX_ERRCODES] = {};
    DWORD count = 0;
    GetErrCode(codes, &count);
    EXPECT_EQ(1u, count);
    EXPECT_EQ(name, std::wstring(g_StoreName));

    // With a 247-character name the value is 260 characters: its last bar is not read.
    name.assign(247, L'm');
    Ini(L"Status", (L"StoreName|" + name + L"|5|").c_str());
    ZeroMemory(codes, sizeof(codes));
    GetErrCode(codes, &count);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(name, std::wstring(g_StoreName));
}

TEST(StatusWordTable, EveryCode)
{
    static const struct { LONG code; DWORD status; } mapped[] = {
        { 1, 0x100000 }, { 2, 0x2 }, { 3, 0x2 }, { 4, 0x2 }, { 6, 0x2 }, { 48, 0x2 }, { 256, 0x2 },
        { 257, 0x2 }, { 258, 0x2 }, { 259, 0x2 }, { 271, 0x2 }, { 275, 0x2 }, { 276, 0x2 }, { 277, 0x2 },
        { 5, 0x400000 }, { 265, 0x400000 }, { 266, 0x400000 }, { 267, 0x400000 }, { 268, 0x400000 },
        { 7, 0x40000 }, { 32, 0x10 }, { 269, 0x10 }, { 270, 0x10 }, { 33, 0x8 }, { 260, 0x8 }, { 261, 0x8 },
        { 262, 0x8 }, { 263, 0x8 }, { 264, 0x8 }, { 34, 0x40 }, { 35, 0x40 }, { 282, 0x40 }, { 112, 0x200 },
        { 126, 0x80 }, { 129, 0 }, { 131, 0 }, { 130, 0x10000 }, { 132, 0x400 }, { 135, 0x20000 },
    };
    for (const auto& m : mapped) {
        DWORD status = 0xDEADBEEF;
        EXPECT_TRUE(SM_SpoolerStatusForCode(m.code, &status)) << m.code;
        EXPECT_EQ(m.status, status) << m.code;
    }
    static const LONG unmapped[] = { 0, 8, 31, 36, 47, 49, 80, 111, 113, 117, 118, 125, 127, 128, 133, 134,
                                     136, 255, 272, 273, 274, 278, 279, 280, 281, 283, 65535, -1, -5, 65536 };
    for (LONG code : unmapped)
        EXPECT_FALSE(SM_SpoolerStatusForCode(code, NULL)) << code;
}

TEST_F(MonitorUnit, EveryMappedCodeSetsItsWordAndUnmappedCodesSetNothing)
{
    static const LONG codes[] = { 1, 2, 5, 7, 32, 33, 34, 112, 126, 130, 132, 135, 129 };
    static const char* const words[] = { "0x00100000", "0x00000002", "0x00400000", "0x00040000",
                                         "0x00000010", "0x00000008", "0x00000040", "0x00000200",
                                         "0x00000080", "0x00010000", "0x00000400", "0x00020000",
                                         "0x00000000" };
    for (LONG code : codes)
        EXPECT_EQ(1, SM_SetSpoolerStatusByCode(code));
    EXPECT_EQ(std::vector<std::string>(words, words + ARRAYSIZE(words)), StatusWords());
    Sp().ClearCalls();
    for (LONG code : { 0L, 80L, 117L, 118L, 133L, 65535L })
        EXPECT_EQ(1, SM_SetSpoolerStatusByCode(code));
    EXPECT_TRUE(Sp().Calls().empty()) << SmDescribeCalls(Sp());
    EXPECT_EQ(0u, Sp().PrinterStatus(L"MFP"));
}

TEST_F(MonitorUnit, StatusWordIsOpenedToAdministerAndPassedInTheBuffer)
{
    SM_SetSpoolerStatusByCode(5);
    std::vector<spd::Call> calls = Sp().Calls();
    ASSERT_EQ(3u, calls.size()) << SmDescribeCalls(Sp());
    EXPECT_EQ("OpenPrinterW", calls[0].function);
    EXPECT_EQ("MFP", calls[0].Arg("name"));
    EXPECT_EQ("0x00000004", calls[0].Arg("access"));
    EXPECT_EQ("SetPrinterW", calls[1].function);
    EXPECT_EQ("0", calls[1].Arg("level"));
    EXPECT_EQ("4", calls[1].Arg("command"));
    EXPECT_EQ("ClosePrinter", calls[2].function);
    EXPECT_EQ((DWORD)PRINTER_STATUS_DOOR_OPEN, Sp().PrinterStatus(L"MFP"));
    EXPECT_EQ((LONG)PRINTER_STATUS_DOOR_OPEN, g_LastSpoolerStatus);
}

TEST_F(MonitorUnit, EqualWordsAreNotSentTwice)
{
    SM_SetSpoolerStatusByCode(33);
    SM_SetSpoolerStatusByCode(262);    // also PRINTER_STATUS_PAPER_JAM
    SM_SetSpoolerStatusByCode(33);
    EXPECT_EQ((std::vector<std::string>{ "0x00000008" }), StatusWords());
    SM_SetSpoolerStatusByCode(5);
    SM_SetSpoolerStatusByCode(33);
    EXPECT_EQ((std::vector<std::string>{ "0x00000008", "0x00400000", "0x00000008" }), StatusWords());
}

TEST_F(MonitorUnit, ResetForgetsTheLastWord)
{
    SM_SetSpoolerStatusByCode(129);     // 0, sent: nothing was set before
    SM_SetSpoolerStatusByCode(131);     // 0 again: not sent
    EXPECT_EQ(1u, StatusWords().size());
    EXPECT_EQ(1, SM_ResetSpoolerStatus());   // 0 equals the last word: nothing sent, then forgotten
    EXPECT_EQ(-1, g_LastSpoolerStatus);
    EXPECT_EQ(1u, StatusWords().size());
    SM_SetSpoolerStatusByCode(129);     // sent again after the reset
    EXPECT_EQ((std::vector<std::string>{ "0x00000000", "0x00000000" }), StatusWords());

    SM_SetSpoolerStatusByCode(7);
    SM_ResetSpoolerStatus();            // 7 was set: the reset sends 0
    EXPECT_EQ((std::vector<std::string>{ "0x00000000", "0x00000000", "0x00040000", "0x00000000" }), StatusWords());
    EXPECT_EQ(0u, Sp().PrinterStatus(L"MFP"));
    EXPECT_EQ(-1, g_LastSpoolerStatus);
}

TEST_F(MonitorUnit, GuardSkipsACallWhileBusy)
{
    g_SpoolerBusy = TRUE;
    EXPECT_EQ(1, SM_SetSpoolerStatus(8, PRINTER_CONTROL_SET_STATUS));
    EXPECT_TRUE(Sp().Calls().empty());
    g_SpoolerBusy = FALSE;
    EXPECT_EQ(1, SM_SetSpoolerStatus(8, PRINTER_CONTROL_SET_STATUS));
    EXPECT_FALSE(g_SpoolerBusy);
    EXPECT_EQ(1u, StatusWords().size());
}

TEST_F(MonitorUnit, AFailedOpenLeavesTheGuardSetForTheRun)
{
    TraceCapture trace(L"mon_guard");
    Sp().SetFail("OpenPrinterW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(1, SM_SetSpoolerStatusByCode(33));
    EXPECT_TRUE(g_SpoolerBusy);
    EXPECT_TRUE(SmContains(trace.Lines(), "OpenPrinter fail!"));
    Sp().ClearFail();
    Sp().ClearCalls();
    SM_SetSpoolerStatusByCode(5);
    SM_ResetSpoolerStatus();
    EXPECT_TRUE(Sp().Calls().empty()) << SmDescribeCalls(Sp());
}

TEST_F(MonitorUnit, AnEmptyPrinterNameIsNotARefusedOpen)
{
    // A half-written exchange file can read as no printer name: nothing is sent, nothing is
    // remembered, and the status word is set again once the name is back.
    Ini(L"PrinterName", L"");
    EXPECT_EQ(1, SM_SetSpoolerStatusByCode(33));
    EXPECT_FALSE(g_SpoolerBusy);
    EXPECT_EQ(-1, g_LastSpoolerStatus);
    JobId(42);
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_RESTART));     // no name opens nothing
    EXPECT_TRUE(Sp().Calls().empty()) << SmDescribeCalls(Sp());
    Ini(L"PrinterName", L"MFP");
    SM_SetSpoolerStatusByCode(33);
    EXPECT_EQ((std::vector<std::string>{ "0x00000008" }), StatusWords());
}

TEST_F(MonitorUnit, AFailedSetPrinterKeepsNoMemoryAndClearsTheGuard)
{
    Sp().SetFail("SetPrinterW", ERROR_ACCESS_DENIED);
    SM_SetSpoolerStatusByCode(33);
    EXPECT_EQ(-1, g_LastSpoolerStatus);
    EXPECT_FALSE(g_SpoolerBusy);
    Sp().ClearFail();
    SM_SetSpoolerStatusByCode(33);      // tried again, since nothing was remembered
    EXPECT_EQ(2u, StatusWords().size());
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, Sp().PrinterStatus(L"MFP"));
}

TEST_F(MonitorUnit, PrinterNameIsReadAfreshForEveryOperation)
{
    Sp().AddTestPrinter(L"Second", L"USB002");
    SM_SetSpoolerStatusByCode(33);
    Ini(L"PrinterName", L"Second");
    SM_SetSpoolerStatusByCode(5);
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, Sp().PrinterStatus(L"MFP"));
    EXPECT_EQ((DWORD)PRINTER_STATUS_DOOR_OPEN, Sp().PrinterStatus(L"Second"));
}

TEST_F(MonitorUnit, Win9xOpensTheAnsiName)
{
    g_OSVersion = MISC_OS_WIN98;
    Sp().AddTestPrinter(L"Dr\u00fccker", L"USB002");
    Ini(L"PrinterName", L"Dr\u00fccker");
    SM_SetSpoolerStatusByCode(5);
    std::vector<spd::Call> opens = Sp().Calls("OpenPrinterA");
    ASSERT_EQ(1u, opens.size()) << SmDescribeCalls(Sp());
    EXPECT_EQ("4472FC636B6572", opens[0].Arg("ansi"));      // CP 1252 bytes
    EXPECT_EQ("0x00000004", opens[0].Arg("access"));
    EXPECT_TRUE(Sp().Calls("OpenPrinterW").empty());
    EXPECT_EQ((DWORD)PRINTER_STATUS_DOOR_OPEN, Sp().PrinterStatus(L"Dr\u00fccker"));
}

// A name the ANSI code page cannot spell would reach the spooler with '?' in it: another
// printer's name, or none. Nothing is opened, and later status words are not blocked.
TEST_F(MonitorUnit, Win9xNameWithoutAnAnsiSpellingOpensNothing)
{
    g_OSVersion = MISC_OS_WIN98;
    Sp().AddTestPrinter(L"Dr?cker", L"USB002");
    Ini(L"PrinterName", L"Dr\u0394cker");
    JobId(42);
    Sp().AddTestJob(L"Dr?cker", 42, L"Report");
    EXPECT_EQ(1, SM_SetSpoolerStatusByCode(5));
    EXPECT_FALSE(g_SpoolerBusy);
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_RESTART));
    EXPECT_TRUE(Sp().Calls("OpenPrinterA").empty()) << SmDescribeCalls(Sp());
    EXPECT_EQ(0u, Sp().PrinterStatus(L"Dr?cker"));
    Ini(L"PrinterName", L"MFP");
    SM_SetSpoolerStatusByCode(33);
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, Sp().PrinterStatus(L"MFP"));
}

// A read that meets the driver half-way through rewriting the file sees no list: the
// announcement is read again on the next tick, and acted on once its list is there.
TEST_F(MonitorUnit, AnAnnouncementReadWithoutItsListIsReadAgain)
{
    Ini(L"Message", L"1027");
    Ini(L"LastMsg", L"7");
    Ini(L"Status", L"");
    WndProc(NULL, WM_TIMER, 1, 0);
    EXPECT_TRUE(StatusWords().empty());
    Ini(L"Status", L"33|5|");
    WndProc(NULL, WM_TIMER, 1, 0);
    WndProc(NULL, WM_TIMER, 1, 0);
    EXPECT_EQ((std::vector<std::string>{ "0x00000008" }), StatusWords()) << SmDescribeCalls(Sp());
    EXPECT_EQ(7, g_LastMsg);
}

// Job control ------------------------------------------------------------------------------------

TEST_F(MonitorUnit, CancelDeletesTheNamedJobOnNtClassSystems)
{
    Sp().AddTestJob(L"MFP", 41, L"Other");
    Sp().AddTestJob(L"MFP", 42, L"Report");
    JobId(42);
    SM_SetSpoolerStatusByCode(33);
    Sp().ClearCalls();
    EXPECT_EQ(1, SM_SetPrinterJob(JOB_CONTROL_CANCEL));
    std::vector<spd::Call> calls = Sp().Calls();
    // The reset (status 0) comes first, then the job action on a printer opened without defaults.
    ASSERT_GE(calls.size(), 7u) << SmDescribeCalls(Sp());
    EXPECT_EQ("SetPrinterW", calls[1].function);
    EXPECT_EQ("0x00000000", calls[1].Arg("status"));
    EXPECT_EQ("OpenPrinterW", calls[3].function);
    EXPECT_EQ("none", calls[3].Arg("access"));
    std::vector<spd::Call> enums = Sp().Calls("EnumJobsW");
    ASSERT_EQ(2u, enums.size());
    EXPECT_EQ("1", enums[1].Arg("level"));
    EXPECT_EQ("255", enums[1].Arg("count"));
    std::vector<spd::Call> sets = Sp().Calls("SetJobW");
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ("42", sets[0].Arg("job"));
    EXPECT_EQ("5", sets[0].Arg("command"));              // JOB_CONTROL_DELETE
    ASSERT_EQ(1u, Sp().Jobs().size());
    EXPECT_EQ(41u, Sp().Jobs()[0].id);
    EXPECT_EQ(-1, g_LastSpoolerStatus);
}

TEST_F(MonitorUnit, CancelStaysCancelOnWin9xSystems)
{
    g_OSVersion = MISC_OS_WIN98;
    Sp().AddTestJob(L"MFP", 42, L"Report");
    JobId(42);
    EXPECT_EQ(1, SM_SetPrinterJob(JOB_CONTROL_CANCEL));
    std::vector<spd::Call> sets = Sp().Calls("SetJobW");
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ("3", sets[0].Arg("command"));              // JOB_CONTROL_CANCEL
    EXPECT_TRUE(Sp().Calls("OpenPrinterW").empty());
    EXPECT_EQ(2u, Sp().Calls("OpenPrinterA").size());    // the reset's open and the job's
    EXPECT_TRUE(Sp().Jobs().empty());
}

TEST_F(MonitorUnit, RestartKeepsTheJob)
{
    Sp().AddTestJob(L"MFP", 42, L"Report");
    JobId(42);
    EXPECT_EQ(1, SM_SetPrinterJob(JOB_CONTROL_RESTART));
    std::vector<spd::Call> sets = Sp().Calls("SetJobW");
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ("4", sets[0].Arg("command"));
    EXPECT_TRUE(Sp().Calls("SetPrinterW").empty());      // no reset for a restart
    ASSERT_EQ(1u, Sp().Jobs().size());
    EXPECT_EQ((DWORD)JOB_STATUS_RESTART, Sp().Jobs()[0].status);
}

TEST_F(MonitorUnit, MissingOrUnmatchedJobIdTouchesNoJob)
{
    Sp().AddTestJob(L"MFP", 42, L"Report");
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_CANCEL));      // no "JobID": 0
    JobId(7);
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_CANCEL));
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_RESTART));
    EXPECT_TRUE(Sp().Calls("SetJobW").empty());
    EXPECT_EQ(1u, Sp().Jobs().size());

    // Job 0 in the queue still matches no "JobID" of 0.
    Sp().AddTestJob(L"MFP", 0, L"Zero");
    JobId(0);
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_CANCEL));
    EXPECT_TRUE(Sp().Calls("SetJobW").empty());
}

TEST_F(MonitorUnit, FailingEnumJobsFailsTheJobAction)
{
    TraceCapture trace(L"mon_enum");
    Sp().AddTestJob(L"MFP", 42, L"Report");
    JobId(42);
    Sp().SetFail("EnumJobsW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_CANCEL));
    EXPECT_TRUE(Sp().Calls("SetJobW").empty());
    EXPECT_EQ(1u, Sp().Jobs().size());
    EXPECT_TRUE(SmContains(trace.Lines(), "EnumJobs fail!"));
    EXPECT_TRUE(SmContains(trace.Lines(), "rc = 0"));
    // The cancel's reset happened all the same.
    EXPECT_EQ((std::vector<std::string>{ "0x00000000" }), StatusWords());
}

// The queue grows between the call that learns its size and the one that reads it: the size is
// learned again, a few times at most.
TEST_F(MonitorUnit, JobLookUpFollowsAGrowingQueue)
{
    static const struct { DWORD growth; int rc; size_t enumCalls; } cases[] = {
        { 1, 1, 3 },        // size, read (too small), read again
        { 100, 0, 5 },      // size and four reads, then given up
    };
    for (const auto& c : cases) {
        Sp().ClearJobs();
        Sp().ClearCalls();
        Sp().AddTestJob(L"MFP", 42, L"Report");
        JobId(42);
        Sp().SetQueueGrowth(c.growth);
        EXPECT_EQ(c.rc, SM_SetPrinterJob(JOB_CONTROL_RESTART)) << c.growth;
        EXPECT_EQ(c.enumCalls, Sp().Calls("EnumJobsW").size()) << c.growth << SmDescribeCalls(Sp());
        EXPECT_EQ((size_t)c.rc, Sp().Calls("SetJobW").size()) << c.growth;
    }
}

TEST_F(MonitorUnit, FailingSetJobFailsTheJobAction)
{
    Sp().AddTestJob(L"MFP", 42, L"Report");
    JobId(42);
    Sp().SetFail("SetJobW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_RESTART));
}

TEST_F(MonitorUnit, FailedOpenForTheJob)
{
    TraceCapture trace(L"mon_jobopen");
    Ini(L"PrinterName", L"Unknown");
    JobId(42);
    EXPECT_EQ(0, SM_SetPrinterJob(JOB_CONTROL_RESTART));
    EXPECT_TRUE(SmContains(trace.Lines(), "OpenPrinter fail!"));
    EXPECT_TRUE(Sp().Calls("EnumJobsW").empty());
}

// A new fault list ---------------------------------------------------------------------------------

TEST_F(MonitorUnit, JobActionThatSucceedsSetsNoOtherWordAndShowsNoDialog)
{
    Ini(L"ShowQelSM", L"1");
    Sp().AddTestJob(L"MFP", 42, L"Report");
    JobId(42);
    LONG codes[SM_MAX_ERRCODES] = { 117, 5 };
    SM_SetSMStatus(NULL, codes, 2);
    EXPECT_EQ((std::vector<std::string>{ "0x00000000" }), StatusWords());   // the cancel's reset only
    EXPECT_TRUE(Sp().Jobs().empty());
    EXPECT_EQ((HWND)NULL, g_hStatusDlg);
    EXPECT_EQ(0, g_ShownErrCodes[0]);
}

TEST_F(MonitorUnit, JobActionThatFailsFallsThroughToTheFirstCodeAndTheDialog)
{
    Ini(L"ShowQelSM", L"1");
    JobId(42);                          // no such job
    LONG codes[SM_MAX_ERRCODES] = { 117, 5 };
    SM_SetSMStatus(NULL, codes, 2);
    // 117 has no status word: only the cancel's reset is sent.
    EXPECT_EQ((std::vector<std::string>{ "0x00000000" }), StatusWords());
    EXPECT_EQ(117, g_ShownErrCodes[0]);
    EXPECT_EQ(5, g_ShownErrCodes[1]);
}

TEST_F(MonitorUnit, EveryJobActionCodeIsActedOn)
{
    Sp().AddTestJob(L"MFP", 42, L"Report");
    JobId(42);
    LONG codes[SM_MAX_ERRCODES] = { 118, 33, 117 };
    SM_SetSMStatus(NULL, codes, 3);
    std::vector<spd::Call> sets = Sp().Calls("SetJobW");
    ASSERT_EQ(2u, sets.size());
    EXPECT_EQ("4", sets[0].Arg("command"));
    EXPECT_EQ("5", sets[1].Arg("command"));
    EXPECT_EQ((std::vector<std::string>{ "0x00000000" }), StatusWords());
}

TEST_F(MonitorUnit, OnlyTheFirstCodeSetsTheWord)
{
    LONG codes[SM_MAX_ERRCODES] = { 80, 33 };
    SM_SetSMStatus(NULL, codes, 2);
    EXPECT_TRUE(StatusWords().empty());
    LONG codes2[SM_MAX_ERRCODES] = { 33, 5 };
    SM_SetSMStatus(NULL, codes2, 2);
    EXPECT_EQ((std::vector<std::string>{ "0x00000008" }), StatusWords());
}

TEST_F(MonitorUnit, ShowQelZeroStillSetsTheWordButKeepsNoSnapshot)
{
    LONG codes[SM_MAX_ERRCODES] = { 5 };
    SM_SetSMStatus(NULL, codes, 1);
    EXPECT_EQ((std::vector<std::string>{ "0x00400000" }), StatusWords());
    EXPECT_EQ((HWND)NULL, g_hStatusDlg);
    EXPECT_EQ(0, g_ShownErrCodes[0]);
}
