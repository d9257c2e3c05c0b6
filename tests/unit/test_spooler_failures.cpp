// The wake-up job with each of its spooler calls failed in turn: what it reports, and that the
// next run, with the spooler well again, sends the job as usual.
#include "test_faults_fixture.h"
#include "trace_capture.h"

namespace {

const char c_Job[] = "\x1b" "E" "\x1b" "%-12345X@PJL WAKEUP\r\n@PJL PREHEAT\r\n@PJL SET TIMEOUT=5\r\n@PJL EOJ\r\n"
                     "\x1b" "%-12345X";

int SendPreHeat()
{
    return SM_SendPreHeatJob(L"MFP", reinterpret_cast<const BYTE*>(c_Job), sizeof(c_Job) - 1);
}

size_t EndedJobs(const SmSpooler& sp)
{
    size_t n = 0;
    for (const spd::RawJob& r : sp.RawJobs())
        n += r.state == "ended" && r.bytes.size() == 666;
    return n;
}

} // namespace

class WakeUpJobFailures : public MonitorUnit {};

TEST_F(WakeUpJobFailures, EachSpoolerCallFailedOnce)
{
    // from: which call of the function fails (1 the first). writes: WritePrinter calls made.
    static const struct {
        const char* function;
        DWORD from;
        int rc;
        const char* trace;
        size_t writes;
    } cases[] = {
        { "OpenPrinterW", 1, 0, "Open MFP fail!", 0 },
        { "GetPrinterW", 1, 0, "GetPrinter fail! rc = 5", 0 },          // the size query
        { "GetPrinterW", 2, 0, "GetPrinter fail! rc = 5", 0 },          // the information itself
        { "EnumJobsW", 1, 1, "pcReturned = 0", 3 },                    // no queue known: the job goes
        { "EnumJobsW", 2, 1, "pcReturned = 0", 3 },
        { "StartDocPrinterW", 1, 0, "StartDocPrinter error, code = 5!", 0 },
        { "StartPagePrinter", 1, 0, "StartPagePrinter error, code = 5!", 0 },
        { "WritePrinter", 1, 0, "WritePrinter error, code = 5!", 1 },
        { "WritePrinter", 2, 0, "WritePrinter error, code = 5!", 2 },
        { "WritePrinter", 3, 0, "WritePrinter error, code = 5!", 3 },
        { "EndPagePrinter", 1, 0, "EndPagePrinter error, code = 5!", 3 },
        { "EndDocPrinter", 1, 0, "EndDocPrinter error, code = 5!", 3 },
        { "ClosePrinter", 1, 1, "SM_SendPreHeatJob out", 3 },          // the job was ended before
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " from call " + std::to_string(c.from));
        Sp().ClearFail();
        Sp().ClearCalls();
        Sp().ClearJobs();
        Sp().SetFail(c.function, ERROR_ACCESS_DENIED, c.from);
        {
            TraceCapture trace(L"wakeup_failures");
            EXPECT_EQ(c.rc, SendPreHeat()) << SmDescribeCalls(Sp());
            EXPECT_TRUE(SmContains(trace.Lines(), c.trace));
        }
        std::vector<spd::Call> failed = Sp().Calls(c.function);
        ASSERT_GE(failed.size(), (size_t)c.from) << SmDescribeCalls(Sp());
        EXPECT_EQ("1", failed[c.from - 1].Arg("forced"));
        EXPECT_EQ(c.writes, Sp().Calls("WritePrinter").size()) << SmDescribeCalls(Sp());
        // The handle is closed once whatever failed (in the ClosePrinter case that is the failed call).
        if (strcmp(c.function, "OpenPrinterW") != 0) {
            EXPECT_EQ(1u, Sp().Calls("ClosePrinter").size());
        }

        // The spooler well again: the next run sends the whole job.
        Sp().ClearFail();
        Sp().ClearJobs();
        size_t before = EndedJobs(Sp());
        EXPECT_EQ(1, SendPreHeat());
        EXPECT_EQ(before + 1, EndedJobs(Sp())) << SmDescribeCalls(Sp());
    }
}
