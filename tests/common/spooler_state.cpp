#include "spooler_state.h"
#include "smtest.h"

using namespace spd;

SmSpooler::SmSpooler(const std::wstring& name, bool setEnv)
    : m_dir(SmTempDir(L"spooler_" + name)), m_setEnv(setEnv), m_hadPrevious(false)
{
    if (!m_dir.empty() && m_dir.back() == L'\\')
        m_dir.pop_back();
    if (m_setEnv) {
        WCHAR buf[MAX_PATH];
        DWORD cch = GetEnvironmentVariableW(c_EnvVar, buf, MAX_PATH);
        if (cch && cch < MAX_PATH) {
            m_hadPrevious = true;
            m_previous = buf;
        }
        SetEnvironmentVariableW(c_EnvVar, m_dir.c_str());
    }
}

SmSpooler::~SmSpooler()
{
    if (m_setEnv)
        SetEnvironmentVariableW(c_EnvVar, m_hadPrevious ? m_previous.c_str() : NULL);
}

void SmSpooler::AddTestPrinter(const std::wstring& name, const std::wstring& port, DWORD attributes, DWORD status)
{
    Printer p;
    p.name = name;
    p.port = port;
    p.attributes = attributes;
    p.status = status;
    UpdatePrinter(p);
}

void SmSpooler::UpdatePrinter(const Printer& printer)
{
    Lock lock;
    std::vector<Printer> printers = ReadAll<Printer>(m_dir, c_PrintersFile);
    bool replaced = false;
    for (Printer& p : printers) {
        if (lstrcmpiW(p.name.c_str(), printer.name.c_str()) == 0) {
            p = printer;
            replaced = true;
        }
    }
    if (!replaced)
        printers.push_back(printer);
    WriteAll(m_dir, c_PrintersFile, printers);
}

void SmSpooler::AddTestJob(const std::wstring& printer, DWORD id, const std::wstring& document, DWORD status)
{
    Lock lock;
    Job j;
    j.printer = printer;
    j.id = id;
    j.document = document;
    j.status = status;
    AppendLine(PathIn(m_dir, c_JobsFile), Format(j));
}

void SmSpooler::ClearJobs()
{
    Lock lock;
    WriteLines(PathIn(m_dir, c_JobsFile), {});
}

void SmSpooler::SetFail(const std::string& function, DWORD error, DWORD from)
{
    Lock lock;
    FailRule r;
    r.function = function;
    r.error = error;
    r.from = from;
    AppendLine(PathIn(m_dir, c_FailFile), Format(r));
}

void SmSpooler::ClearFail()
{
    Lock lock;
    DeleteFileW(PathIn(m_dir, c_FailFile).c_str());
}

void SmSpooler::SetShortWrite(DWORD cb)
{
    Lock lock;
    WriteLines(PathIn(m_dir, c_ShortWriteFile), { Dec(cb) });
}

void SmSpooler::SetQueueGrowth(DWORD calls)
{
    Lock lock;
    WriteLines(PathIn(m_dir, c_GrowFile), { Dec(calls) });
}

void SmSpooler::SetStandardUser(DWORD granted)
{
    Lock lock;
    WriteLines(PathIn(m_dir, c_StandardUserFile), { Dec(granted) });
}

void SmSpooler::ClearCalls()
{
    Lock lock;
    DeleteFileW(PathIn(m_dir, c_CallsFile).c_str());
}

std::vector<Printer> SmSpooler::Printers() const
{
    Lock lock;
    return ReadAll<Printer>(m_dir, c_PrintersFile);
}

bool SmSpooler::FindPrinter(const std::wstring& name, Printer* pPrinter) const
{
    for (const Printer& p : Printers()) {
        if (lstrcmpiW(p.name.c_str(), name.c_str()) == 0) {
            *pPrinter = p;
            return true;
        }
    }
    return false;
}

DWORD SmSpooler::PrinterStatus(const std::wstring& name) const
{
    Printer p;
    return FindPrinter(name, &p) ? p.status : 0xFFFFFFFF;
}

std::vector<Job> SmSpooler::Jobs() const
{
    Lock lock;
    return ReadAll<Job>(m_dir, c_JobsFile);
}

std::vector<DataValue> SmSpooler::DataValues() const
{
    Lock lock;
    return ReadAll<DataValue>(m_dir, c_DataFile);
}

std::vector<RawJob> SmSpooler::RawJobs() const
{
    Lock lock;
    return ReadAll<RawJob>(m_dir, c_RawJobsFile);
}

std::vector<Call> SmSpooler::Calls() const
{
    Lock lock;
    return ReadAll<Call>(m_dir, c_CallsFile);
}

std::vector<Call> SmSpooler::Calls(const std::string& function) const
{
    std::vector<Call> out;
    for (const Call& c : Calls())
        if (c.function == function)
            out.push_back(c);
    return out;
}

std::vector<std::string> SmSpooler::CallLines() const
{
    Lock lock;
    return ReadLines(PathIn(m_dir, c_CallsFile));
}

bool SmSpooler::WaitForCalls(const std::string& function, size_t count, DWORD msTimeout) const
{
    DWORD start = GetTickCount();
    for (;;) {
        if (Calls(function).size() >= count)
            return true;
        if (GetTickCount() - start >= msTimeout)
            return false;
        Sleep(20);
    }
}

bool SmSpooler::DoubleLoaded()
{
    HMODULE h = GetModuleHandleW(L"winspool.drv");
    return h && GetProcAddress(h, "SmSpoolerDouble") != NULL;
}

std::string SmDescribeCalls(const SmSpooler& spooler)
{
    std::string text;
    for (const std::string& line : spooler.CallLines())
        text += line + "\n";
    return text;
}
