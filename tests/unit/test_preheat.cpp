// The wake-up job against the test-double spooler: what is sent, and when nothing is.
#include "test_faults_fixture.h"
#include "trace_capture.h"

namespace {

// The 77-byte wake-up sequence that the "PREHEAT" command hands over.
const char c_Job[] = "\x1b" "E" "\x1b" "%-12345X@PJL WAKEUP\r\n@PJL PREHEAT\r\n@PJL SET TIMEOUT=5\r\n@PJL EOJ\r\n"
                     "\x1b" "%-12345X";
const DWORD c_cbJob = sizeof(c_Job) - 1;

int Send(const wchar_t* printer)
{
    return SM_SendPreHeatJob(printer, reinterpret_cast<const BYTE*>(c_Job), c_cbJob);
}

} // namespace

class PreHeat : public MonitorUnit {};

TEST_F(PreHeat, UsbPrinterOnlineGetsThe666Bytes)
{
    ASSERT_EQ(77u, c_cbJob);
    EXPECT_EQ(1, Send(L"MFP"));
    std::vector<spd::RawJob> raw = Sp().RawJobs();
    ASSERT_EQ(1u, raw.size()) << SmDescribeCalls(Sp());
    EXPECT_EQ(L"PreHeat", raw[0].document);
    EXPECT_EQ(L"MFP", raw[0].printer);
    EXPECT_EQ("ended", raw[0].state);
    ASSERT_EQ(666u, raw[0].bytes.size());
    std::vector<BYTE> expected(c_Job, c_Job + c_cbJob);
    expected.insert(expected.end(), 512, 0);
    expected.insert(expected.end(), c_Job, c_Job + c_cbJob);
    EXPECT_EQ(expected, raw[0].bytes);

    std::vector<spd::Call> calls = Sp().Calls();
    EXPECT_EQ("0x00000008", calls[0].Arg("access"));     // use rights
    std::vector<spd::Call> starts = Sp().Calls("StartDocPrinterW");
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ("1", starts[0].Arg("level"));
    EXPECT_EQ("(null)", starts[0].Arg("output"));
    EXPECT_EQ("(null)", starts[0].Arg("datatype"));
    std::vector<spd::Call> writes = Sp().Calls("WritePrinter");
    ASSERT_EQ(3u, writes.size());
    EXPECT_EQ("77", writes[0].Arg("size"));
    EXPECT_EQ("512", writes[1].Arg("size"));
    EXPECT_EQ("77", writes[2].Arg("size"));
    EXPECT_EQ(1u, Sp().Calls("EndPagePrinter").size());
    EXPECT_EQ(1u, Sp().Calls("ClosePrinter").size());
    std::vector<spd::Call> enums = Sp().Calls("EnumJobsW");
    ASSERT_FALSE(enums.empty());
    EXPECT_EQ("2", enums.back().Arg("level"));
}

TEST_F(PreHeat, AQueuedPreHeatJobInAnyCaseMeansNothingIsSent)
{
    TraceCapture trace(L"preheat_queued");
    Sp().AddTestJob(L"MFP", 9, L"Report");
    Sp().AddTestJob(L"MFP", 10, L"preheat");
    EXPECT_EQ(1, Send(L"MFP"));
    EXPECT_TRUE(Sp().RawJobs().empty());
    EXPECT_TRUE(Sp().Calls("StartDocPrinterW").empty());
    std::vector<std::string> lines = trace.Lines();
    EXPECT_TRUE(SmContains(lines, "job exist!"));
    EXPECT_TRUE(SmContains(lines, "pcReturned = 2"));
    EXPECT_TRUE(SmContains(lines, "JobId = 9, job name is Report"));
    EXPECT_TRUE(SmContains(lines, "JobId = 10, job name is preheat"));
}

TEST_F(PreHeat, OtherJobsDoNotStopIt)
{
    Sp().AddTestJob(L"MFP", 9, L"PreHeat report");
    EXPECT_EQ(1, Send(L"MFP"));
    EXPECT_EQ(1u, Sp().RawJobs().size());
}

TEST_F(PreHeat, OfflinePrinter)
{
    TraceCapture trace(L"preheat_offline");
    Sp().AddTestPrinter(L"MFP", L"USB001", PRINTER_ATTRIBUTE_WORK_OFFLINE);
    EXPECT_EQ(0, Send(L"MFP"));
    EXPECT_TRUE(Sp().RawJobs().empty());
    EXPECT_TRUE(SmContains(trace.Lines(), "Printer is offline."));
}

TEST_F(PreHeat, NetworkAndParallelPorts)
{
    for (const wchar_t* port : { L"IP_192.168.1.20", L"LPT1:", L"usb001", L"Usb001", L"" }) {
        TraceCapture trace(L"preheat_port");
        Sp().AddTestPrinter(L"MFP", port);
        EXPECT_EQ(0, Send(L"MFP"));
        EXPECT_TRUE(SmContains(trace.Lines(), "Printer is network.")) << SmNarrow(port);
    }
    EXPECT_TRUE(Sp().RawJobs().empty());
    // "USB" anywhere in the port name will do.
    Sp().AddTestPrinter(L"MFP", L"WSD-USB-3");
    EXPECT_EQ(1, Send(L"MFP"));
}

TEST_F(PreHeat, UnknownPrinter)
{
    TraceCapture trace(L"preheat_unknown");
    EXPECT_EQ(0, Send(L"No Such Printer"));
    EXPECT_TRUE(SmContains(trace.Lines(), "Open No Such Printer fail!"));
    std::vector<spd::Call> calls = Sp().Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("0", calls[0].Arg("rc"));
}

TEST_F(PreHeat, NoPrinterName)
{
    TraceCapture trace(L"preheat_null");
    EXPECT_EQ(0, Send(NULL));
    EXPECT_EQ(0, Send(L""));
    EXPECT_TRUE(SmContains(trace.Lines(), "PrinterName is null!"));
    EXPECT_TRUE(Sp().Calls().empty());
}

TEST_F(PreHeat, GetPrinterFailure)
{
    TraceCapture trace(L"preheat_getprinter");
    Sp().SetFail("GetPrinterW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, Send(L"MFP"));
    EXPECT_TRUE(SmContains(trace.Lines(), "GetPrinter fail! rc = 5"));
    EXPECT_EQ(1u, Sp().Calls("ClosePrinter").size());
}

// A write that takes part of a block is followed by writes of the rest; a write that fails, or
// takes nothing, ends the job as aborted: a cut PJL sequence never reaches the printer.
TEST_F(PreHeat, ShortWritesAreCompletedAndFailedOnesAbortTheJob)
{
    static const struct { int shortWrite; const char* trace; size_t writes; const char* state; size_t bytes; } cases[] = {
        { -1, "WritePrinter error, code = 8!", 2, "aborted", 77 },     // the second write fails
        { 0, "WritePrinter error, code = 29!", 1, "aborted", 0 },      // no progress
        { 50, NULL, 2 + 11 + 2, "ended", 666 },
        { 300, NULL, 1 + 2 + 1, "ended", 666 },
    };
    for (const auto& c : cases) {
        SmSpooler sp(L"preheat_write");
        sp.AddTestPrinter(L"MFP", L"USB001");
        if (c.shortWrite >= 0)
            sp.SetShortWrite((DWORD)c.shortWrite);
        else
            sp.SetFail("WritePrinter", ERROR_NOT_ENOUGH_MEMORY, 2);
        TraceCapture trace(L"preheat_write");
        EXPECT_EQ(c.trace ? 0 : 1, Send(L"MFP"));
        EXPECT_EQ(c.writes, sp.Calls("WritePrinter").size());
        EXPECT_TRUE(!c.trace || SmContains(trace.Lines(), c.trace)) << (c.trace ? c.trace : "");
        std::vector<spd::RawJob> raw = sp.RawJobs();
        ASSERT_EQ(1u, raw.size()) << SmDescribeCalls(sp);
        EXPECT_EQ(c.state, raw[0].state);
        ASSERT_EQ(c.bytes, raw[0].bytes.size());
        if (c.bytes == 666) {
            EXPECT_EQ(0, memcmp(raw[0].bytes.data() + 589, c_Job, c_cbJob));    // the pieces in order
            EXPECT_EQ(std::vector<BYTE>(512, 0), std::vector<BYTE>(raw[0].bytes.begin() + 77, raw[0].bytes.begin() + 589));
        }
    }
}

TEST_F(PreHeat, AQueuedPreHeatJobIsFoundInAGrowingQueue)
{
    Sp().AddTestJob(L"MFP", 10, L"PreHeat");
    Sp().SetQueueGrowth(1);
    EXPECT_EQ(1, Send(L"MFP"));
    EXPECT_TRUE(Sp().RawJobs().empty()) << SmDescribeCalls(Sp());
}

TEST_F(PreHeat, StartAndEndFailures)
{
    // Every failure after the document was started ends it (aborted), none leaves it open.
    static const struct { const char* function; const char* trace; size_t rawJobs; } cases[] = {
        { "StartDocPrinterW", "StartDocPrinter error, code = 31!", 0 },
        { "StartPagePrinter", "StartPagePrinter error, code = 31!", 1 },
        { "EndPagePrinter", "EndPagePrinter error, code = 31!", 1 },
        { "EndDocPrinter", "EndDocPrinter error, code = 31!", 1 },
    };
    for (const auto& c : cases) {
        SmSpooler sp(L"preheat_steps");
        sp.AddTestPrinter(L"MFP", L"USB001");
        TraceCapture trace(L"preheat_steps");
        sp.SetFail(c.function);
        EXPECT_EQ(0, Send(L"MFP")) << c.function;
        EXPECT_TRUE(SmContains(trace.Lines(), c.trace)) << c.function;
        std::vector<spd::RawJob> raw = sp.RawJobs();
        ASSERT_EQ(c.rawJobs, raw.size()) << c.function;
        if (c.rawJobs) {
            EXPECT_EQ("aborted", raw[0].state) << c.function;
        }
    }
}
