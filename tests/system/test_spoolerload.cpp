// Which commands load the spooler library (the DLLs a child loads, seen by the debugger loop),
// and what a printer command does when the library cannot be loaded at all.
#include <gtest/gtest.h>
#include "smtest.h"
#include "spooler_state.h"
#include <string>

namespace {

bool Loaded(const SmRunResult& r, const char* dll)
{
    return SmFindModule(r.modules, dll) != NULL;
}

std::string Joined(const std::vector<SmModule>& v)
{
    std::string s;
    for (const SmModule& m : v)
        s += m.name + " ";
    return s;
}

// Sets an environment variable for the children started meanwhile; puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(LPCWSTR name, LPCWSTR value) : m_name(name)
    {
        WCHAR buf[1024];
        DWORD cch = GetEnvironmentVariableW(name, buf, ARRAYSIZE(buf));
        m_had = cch > 0 && cch < ARRAYSIZE(buf);
        if (m_had)
            m_old = buf;
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnv() { SetEnvironmentVariableW(m_name.c_str(), m_had ? m_old.c_str() : NULL); }

private:
    std::wstring m_name, m_old;
    bool m_had;
};

}  // namespace

TEST(SpoolerLoad, OnlyCommandsThatPrintLoadTheSpooler)
{
    SmSpooler spooler(L"load");
    spooler.AddTestPrinter(L"MFP", L"USB001");
    std::wstring dir = SmTempDir(L"spoolerload");
    std::wstring ini = dir + L"job.ini", bmp = dir + L"wm.bmp";
    SmRunResult make = SmRun(SmTestDir() + L"smctl.exe",
                             L"wm-make \"" + ini + L"\" --placement tiled --out \"" + bmp + L"\"");
    ASSERT_EQ(0u, make.exitCode);

    static const struct { const wchar_t* args; bool loads; } cases[] = {
        { L"", false },
        { L"CreateTextBMP \"%INI%\"", false },
        { L"SetATM 1", false },
        { L"charset 1033", false },
        { L"uninstall", false },
        { L"PREHEAT MFP", true },       // the control: a command that prints
    };
    for (const auto& c : cases) {
        std::wstring args = c.args;
        size_t at = args.find(L"%INI%");
        if (at != std::wstring::npos)
            args.replace(at, 5, ini);
        SmRunResult r = SmRun(SmProgramPath(), args);
        ASSERT_TRUE(r.finished) << SmNarrow(args);
        EXPECT_EQ(1u, r.exitCode) << SmNarrow(args);
        EXPECT_TRUE(Loaded(r, "gdi32.dll")) << Joined(r.modules);     // the list is really read
        EXPECT_EQ(c.loads, Loaded(r, "winspool.drv")) << SmNarrow(args) << ": " << Joined(r.modules);
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(bmp.c_str()));
    // The spooler found on first use is the one an import would find: the double beside the program.
    EXPECT_EQ(1u, spooler.RawJobs().size()) << SmDescribeCalls(spooler);
    SmRegDeleteValue(HKEY_LOCAL_MACHINE, L"software\\ZorvekData\\Printer\\StatusMonitor", L"AtmMode");
    SmRegDeleteValue(HKEY_LOCAL_MACHINE, L"software\\ZorvekData\\Printer\\StatusMonitor", L"Language");
}

TEST(SpoolerLoad, PrinterCommandWithoutSpoolerFailsQuietly)
{
    SmSpooler spooler(L"nospooler");
    spooler.AddTestPrinter(L"MFP", L"USB001");
    SmRunResult r;
    {
        ScopedEnv noSpooler(L"SM_SPOOLER_REFUSE_LOAD", L"1");
        ScopedEnv trace(L"SM_TRACE", L"threshold=1");
        r = SmRun(SmProgramPath(), L"PREHEAT MFP");
    }
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, r.exitCode);              // an ordinary end, not a crash or a failed start
    EXPECT_TRUE(SmContains(r.lines, "load winspool.drv fail!"));
    EXPECT_TRUE(SmContains(r.lines, "Open MFP fail!"));
    EXPECT_TRUE(spooler.Calls().empty()) << SmDescribeCalls(spooler);
}
