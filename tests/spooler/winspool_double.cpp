// A test-double winspool.drv. With SM_SPOOLER_DIR naming a folder, it models printers, their
// status words, job queues shared between processes, job control, raw jobs and printer data in
// plain files there, logs every modelled call with its arguments, and fails any call on demand.
// Without the variable, and for every call it does not model, Wine's builtin spooler answers.
// The file format is in spooler_format.h; tests/spooler/README.md describes the whole.
#include <windows.h>
#include <winspool.h>
#include <set>
#include <string>
#include <vector>
#include "spooler_format.h"

using namespace spd;

// The builtin spooler ---------------------------------------------------------------------------

static HMODULE s_hBuiltin;
static bool s_builtinTried;

// Wine's builtin winspool.drv, loaded by its full path in the system directory (never this file).
HMODULE Spd_Builtin(void)
{
    if (!s_builtinTried) {
        s_builtinTried = true;
        WCHAR path[MAX_PATH];
        UINT cch = GetSystemDirectoryW(path, MAX_PATH - 16);
        if (cch && cch < MAX_PATH - 16) {
            lstrcatW(path, L"\\winspool.drv");
            HMODULE h = LoadLibraryW(path);
            HMODULE self = NULL;
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(&Spd_Builtin), &self);
            if (h && h != self)
                s_hBuiltin = h;
        }
    }
    return s_hBuiltin;
}

template <typename F>
static F BuiltinProc(const char* name)
{
    HMODULE h = Spd_Builtin();
    return h ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(h, name))) : NULL;
}

#define PASS(fn, failValue, ...)                                                      \
    do {                                                                              \
        auto pfn = BuiltinProc<decltype(&fn)>(#fn);                                   \
        if (!pfn) {                                                                   \
            SetLastError(ERROR_NOT_SUPPORTED);                                        \
            return failValue;                                                         \
        }                                                                             \
        return pfn(__VA_ARGS__);                                                      \
    } while (0)

// State folder and handles ----------------------------------------------------------------------

static std::wstring StateDir()
{
    WCHAR buf[MAX_PATH];
    DWORD cch = GetEnvironmentVariableW(c_EnvVar, buf, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return std::wstring();
    return buf;
}

struct DoubleHandle {
    std::wstring dir;           // the state folder when the printer was opened
    std::wstring printer;
    DWORD rights = ~0u;         // what the open gave: all unless the caller is a standard user
    bool docOpen = false;
    bool pageOpen = false;
    DWORD jobId = 0;
    std::wstring document;
    std::wstring datatype;
    std::vector<BYTE> data;
};

static CRITICAL_SECTION s_cs;
static std::set<DoubleHandle*>* s_handles;

static DoubleHandle* Ours(HANDLE h)
{
    DoubleHandle* p = reinterpret_cast<DoubleHandle*>(h);
    EnterCriticalSection(&s_cs);
    bool found = s_handles && s_handles->count(p);
    LeaveCriticalSection(&s_cs);
    return found ? p : NULL;
}

// The call log ----------------------------------------------------------------------------------

class Entry {
public:
    Entry(const std::wstring& dir, const char* fn) : m_dir(dir), m_fn(fn) {}
    void Add(const char* key, const std::string& value) { m_fields.push_back(Escape(key) + "=" + Escape(value)); }
    void AddW(const char* key, LPCWSTR value) { Add(key, value ? Utf8(value) : std::string("(null)")); }
    void AddNum(const char* key, unsigned long long v) { Add(key, Dec(v)); }
    void AddHex(const char* key, DWORD v) { Add(key, Hex32(v)); }

    // True when fail.txt asks this call to fail; *pErr receives the error to report.
    bool Failing(DWORD* pErr)
    {
        for (const FailRule& r : ReadAll<FailRule>(m_dir, c_FailFile)) {
            if (r.function != m_fn)
                continue;
            if (r.from > 1) {
                DWORD n = 1;
                for (const std::string& line : ReadLines(PathIn(m_dir, c_CallsFile))) {
                    if (line.compare(0, m_fn.size() + 1, m_fn + "\t") == 0 || line == m_fn)
                        n++;
                }
                if (n < r.from)
                    continue;
            }
            *pErr = r.error;
            m_forced = true;
            return true;
        }
        return false;
    }

    // Writes the line with the result; sets the thread's last error when err is not 0.
    void Done(unsigned long long rc, DWORD err)
    {
        std::vector<std::string> f;
        f.push_back(m_fn);
        f.insert(f.end(), m_fields.begin(), m_fields.end());
        f.push_back("rc=" + Dec(rc));
        f.push_back("err=" + Dec(err));
        if (m_forced)
            f.push_back("forced=1");
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        f.push_back("t=" + Dec(((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime));
        AppendLine(PathIn(m_dir, c_CallsFile), Join(f));
        if (err)
            SetLastError(err);
    }

private:
    std::wstring m_dir;
    std::string m_fn;
    std::vector<std::string> m_fields;
    bool m_forced = false;
};

static bool FindPrinter(const std::wstring& dir, const std::wstring& name, Printer* p)
{
    for (const Printer& q : ReadAll<Printer>(dir, c_PrintersFile)) {
        if (lstrcmpiW(q.name.c_str(), name.c_str()) == 0) {
            *p = q;
            return true;
        }
    }
    return false;
}

// Packing of returned structures: fixed parts first, strings after them.
class Packer {
public:
    explicit Packer(size_t fixed) : m_size(fixed) {}
    void Count(const std::wstring& s) { m_size += (s.size() + 1) * sizeof(WCHAR); }
    size_t Size() const { return m_size; }
    void Begin(BYTE* buf, size_t fixed) { m_buf = buf; m_at = fixed; }
    LPWSTR Put(const std::wstring& s)
    {
        LPWSTR p = reinterpret_cast<LPWSTR>(m_buf + m_at);
        memcpy(p, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
        m_at += (s.size() + 1) * sizeof(WCHAR);
        return p;
    }

private:
    size_t m_size;
    BYTE* m_buf = NULL;
    size_t m_at = 0;
};

static const wchar_t c_DriverName[] = L"SM Test Double";
static const wchar_t c_MachineName[] = L"\\\\SMTEST";
static const wchar_t c_UserName[] = L"smtest";

// The standard-user switch (README): masks with these rights are refused unless granted.
static const DWORD c_AdminRights = PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_MANAGE_LIMITED | DELETE | WRITE_DAC |
                                   WRITE_OWNER | GENERIC_ALL | ACCESS_SYSTEM_SECURITY;

static DWORD RightsError(const DoubleHandle* h, DWORD need)
{
    return (h->rights & need) ? 0 : ERROR_ACCESS_DENIED;
}

// The modelled calls ----------------------------------------------------------------------------

static BOOL OpenCommon(const char* fn, const std::wstring& dir, const std::wstring& name, bool haveName,
                       const std::string& ansiHex, bool haveDefaults, DWORD access, LPHANDLE phPrinter)
{
    Lock lock;
    Entry e(dir, fn);
    e.Add("name", haveName ? Utf8(name) : std::string("(null)"));
    if (!ansiHex.empty())
        e.Add("ansi", ansiHex);
    e.Add("access", haveDefaults ? Hex32(access) : std::string("none"));
    DWORD err = 0;
    Printer p;
    std::vector<std::string> user = ReadLines(PathIn(dir, c_StandardUserFile));
    DWORD asked = haveDefaults && access ? access : PRINTER_ACCESS_USE;
    if (!phPrinter)
        err = ERROR_INVALID_PARAMETER;
    else if (e.Failing(&err))
        ;
    else if (!haveName || !FindPrinter(dir, name, &p))
        err = ERROR_INVALID_PRINTER_NAME;
    else if (!user.empty() && (asked & c_AdminRights & ~Num(user[0])))
        err = ERROR_ACCESS_DENIED;
    if (err) {
        if (phPrinter)
            *phPrinter = NULL;
        e.Done(0, err);
        return FALSE;
    }
    DoubleHandle* h = new DoubleHandle;
    h->dir = dir;
    h->printer = p.name;
    h->rights = user.empty() ? ~0u : asked;
    EnterCriticalSection(&s_cs);
    if (!s_handles)
        s_handles = new std::set<DoubleHandle*>;
    s_handles->insert(h);
    LeaveCriticalSection(&s_cs);
    *phPrinter = reinterpret_cast<HANDLE>(h);
    e.Done(1, 0);
    return TRUE;
}

extern "C" BOOL WINAPI Dbl_OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault)
{
    std::wstring dir = StateDir();
    if (dir.empty())
        PASS(OpenPrinterW, FALSE, pPrinterName, phPrinter, pDefault);
    return OpenCommon("OpenPrinterW", dir, pPrinterName ? pPrinterName : L"", pPrinterName != NULL, std::string(),
                      pDefault != NULL, pDefault ? pDefault->DesiredAccess : 0, phPrinter);
}

extern "C" BOOL WINAPI Dbl_OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault)
{
    std::wstring dir = StateDir();
    if (dir.empty())
        PASS(OpenPrinterA, FALSE, pPrinterName, phPrinter, pDefault);
    std::wstring name;
    std::string hex;
    if (pPrinterName) {
        int cch = MultiByteToWideChar(CP_ACP, 0, pPrinterName, -1, NULL, 0);
        std::vector<WCHAR> w((size_t)(cch > 0 ? cch : 1), 0);
        if (cch > 0)
            MultiByteToWideChar(CP_ACP, 0, pPrinterName, -1, w.data(), cch);
        name = w.data();
        hex = HexBytes(pPrinterName, strlen(pPrinterName));
        if (hex.empty())
            hex = "-";
    }
    return OpenCommon("OpenPrinterA", dir, name, pPrinterName != NULL, hex,
                      pDefault != NULL, pDefault ? pDefault->DesiredAccess : 0, phPrinter);
}

// Writes the raw job of an open document and takes its job out of the queue.
static void FinishDocument(DoubleHandle* h, const char* state)
{
    RawJob r;
    r.printer = h->printer;
    r.id = h->jobId;
    r.document = h->document;
    r.datatype = h->datatype;
    r.state = state;
    r.bytes = h->data;
    AppendLine(PathIn(h->dir, c_RawJobsFile), Format(r));
    std::vector<Job> jobs = ReadAll<Job>(h->dir, c_JobsFile), kept;
    for (const Job& j : jobs) {
        if (!(j.id == h->jobId && lstrcmpiW(j.printer.c_str(), h->printer.c_str()) == 0))
            kept.push_back(j);
    }
    WriteAll(h->dir, c_JobsFile, kept);
    h->docOpen = false;
    h->pageOpen = false;
    h->data.clear();
}

extern "C" BOOL WINAPI Dbl_ClosePrinter(HANDLE hPrinter)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(ClosePrinter, FALSE, hPrinter);
    Lock lock;
    Entry e(h->dir, "ClosePrinter");
    e.AddW("printer", h->printer.c_str());
    DWORD err = 0;
    if (e.Failing(&err)) {
        e.Done(0, err);
        return FALSE;
    }
    if (h->docOpen)
        FinishDocument(h, "closed");
    EnterCriticalSection(&s_cs);
    s_handles->erase(h);
    LeaveCriticalSection(&s_cs);
    e.Done(1, 0);
    delete h;
    return TRUE;
}

static DWORD JobCount(const std::wstring& dir, const std::wstring& printer)
{
    DWORD n = 0;
    for (const Job& j : ReadAll<Job>(dir, c_JobsFile))
        n += lstrcmpiW(j.printer.c_str(), printer.c_str()) == 0;
    return n;
}

extern "C" BOOL WINAPI Dbl_GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(GetPrinterW, FALSE, hPrinter, Level, pPrinter, cbBuf, pcbNeeded);
    Lock lock;
    Entry e(h->dir, "GetPrinterW");
    e.AddW("printer", h->printer.c_str());
    e.AddNum("level", Level);
    e.AddNum("cbBuf", cbBuf);
    DWORD err = 0;
    Printer p;
    if (e.Failing(&err)) {
    } else if (!FindPrinter(h->dir, h->printer, &p)) {
        err = ERROR_INVALID_PRINTER_NAME;     // removed from printers.txt since the open
    } else if (Level != 1 && Level != 2) {
        err = ERROR_INVALID_LEVEL;
    }
    if (err) {
        if (pcbNeeded)
            *pcbNeeded = 0;
        e.Done(0, err);
        return FALSE;
    }
    std::wstring description = p.name + L"," + c_DriverName + L"," + p.port;
    const std::wstring empty;
    std::vector<std::wstring> strings;
    size_t fixed = Level == 1 ? sizeof(PRINTER_INFO_1W) : sizeof(PRINTER_INFO_2W);
    if (Level == 1)
        strings = { description, p.name, empty };
    else
        strings = { p.name, empty, p.port, c_DriverName, empty, empty, empty, L"winprint", L"RAW", empty };
    Packer pk(fixed);
    for (const std::wstring& s : strings)
        pk.Count(s);
    if (pcbNeeded)
        *pcbNeeded = (DWORD)pk.Size();
    e.AddNum("needed", pk.Size());
    if (!pPrinter || cbBuf < pk.Size()) {
        e.Done(0, ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memset(pPrinter, 0, pk.Size());
    pk.Begin(pPrinter, fixed);
    if (Level == 1) {
        PRINTER_INFO_1W* pi = reinterpret_cast<PRINTER_INFO_1W*>(pPrinter);
        pi->Flags = PRINTER_ENUM_LOCAL;
        pi->pDescription = pk.Put(strings[0]);
        pi->pName = pk.Put(strings[1]);
        pi->pComment = pk.Put(strings[2]);
    } else {
        PRINTER_INFO_2W* pi = reinterpret_cast<PRINTER_INFO_2W*>(pPrinter);
        pi->pServerName = NULL;
        pi->pPrinterName = pk.Put(strings[0]);
        pi->pShareName = pk.Put(strings[1]);
        pi->pPortName = pk.Put(strings[2]);
        pi->pDriverName = pk.Put(strings[3]);
        pi->pComment = pk.Put(strings[4]);
        pi->pLocation = pk.Put(strings[5]);
        pi->pSepFile = pk.Put(strings[6]);
        pi->pPrintProcessor = pk.Put(strings[7]);
        pi->pDatatype = pk.Put(strings[8]);
        pi->pParameters = pk.Put(strings[9]);
        pi->Attributes = p.attributes;
        pi->Priority = 1;
        pi->Status = p.status;
        pi->cJobs = JobCount(h->dir, p.name);
    }
    e.Done(1, 0);
    return TRUE;
}

extern "C" BOOL WINAPI Dbl_SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(SetPrinterW, FALSE, hPrinter, Level, pPrinter, Command);
    Lock lock;
    Entry e(h->dir, "SetPrinterW");
    e.AddW("printer", h->printer.c_str());
    e.AddNum("level", Level);
    e.AddNum("command", Command);
    // Level 0 with PRINTER_CONTROL_SET_STATUS carries the status word itself in the buffer argument.
    if (Level == 0)
        e.AddHex("status", (DWORD)(ULONG_PTR)pPrinter);
    DWORD err = RightsError(h, PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_MANAGE_LIMITED);
    if (err || e.Failing(&err)) {
        e.Done(0, err);
        return FALSE;
    }
    if (Level != 0) {
        e.Done(0, ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::vector<Printer> printers = ReadAll<Printer>(h->dir, c_PrintersFile);
    bool found = false;
    for (Printer& p : printers) {
        if (lstrcmpiW(p.name.c_str(), h->printer.c_str()) != 0)
            continue;
        found = true;
        switch (Command) {
        case PRINTER_CONTROL_SET_STATUS: p.status = (DWORD)(ULONG_PTR)pPrinter; break;
        case PRINTER_CONTROL_PAUSE: p.status |= PRINTER_STATUS_PAUSED; break;
        case PRINTER_CONTROL_RESUME: p.status &= ~(DWORD)PRINTER_STATUS_PAUSED; break;
        case PRINTER_CONTROL_PURGE: break;
        default: err = ERROR_INVALID_PARAMETER; break;
        }
    }
    if (!found)
        err = ERROR_INVALID_PRINTER_NAME;
    if (err) {
        e.Done(0, err);
        return FALSE;
    }
    WriteAll(h->dir, c_PrintersFile, printers);
    if (Command == PRINTER_CONTROL_PURGE) {
        std::vector<Job> kept;
        for (const Job& j : ReadAll<Job>(h->dir, c_JobsFile))
            if (lstrcmpiW(j.printer.c_str(), h->printer.c_str()) != 0)
                kept.push_back(j);
        WriteAll(h->dir, c_JobsFile, kept);
    }
    e.Done(1, 0);
    return TRUE;
}

static DWORD NextJobId(const std::wstring& dir);

// The growth switch: while growjobs.txt holds a count above 0, every EnumJobsW call adds a job
// "Grown" to its printer's queue after it has answered (as another process printing between a
// call that learns the size and the one that reads) and counts down.
static void GrowQueue(const DoubleHandle* h)
{
    std::vector<std::string> lines = ReadLines(PathIn(h->dir, c_GrowFile));
    if (lines.empty() || Num(lines[0]) == 0)
        return;
    WriteLines(PathIn(h->dir, c_GrowFile), { Dec(Num(lines[0]) - 1) });
    Job j;
    j.printer = h->printer;
    j.id = NextJobId(h->dir);
    j.document = L"Grown";
    AppendLine(PathIn(h->dir, c_JobsFile), Format(j));
}

static BOOL EnumJobsModel(DoubleHandle* h, Entry& e, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob,
                          DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);

extern "C" BOOL WINAPI Dbl_EnumJobsW(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob,
                                     DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(EnumJobsW, FALSE, hPrinter, FirstJob, NoJobs, Level, pJob, cbBuf, pcbNeeded, pcReturned);
    Lock lock;
    Entry e(h->dir, "EnumJobsW");
    BOOL ok = EnumJobsModel(h, e, FirstJob, NoJobs, Level, pJob, cbBuf, pcbNeeded, pcReturned);
    DWORD err = GetLastError();
    GrowQueue(h);
    SetLastError(err);
    return ok;
}

static BOOL EnumJobsModel(DoubleHandle* h, Entry& e, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob,
                          DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    e.AddW("printer", h->printer.c_str());
    e.AddNum("first", FirstJob);
    e.AddNum("count", NoJobs);
    e.AddNum("level", Level);
    e.AddNum("cbBuf", cbBuf);
    if (pcbNeeded)
        *pcbNeeded = 0;
    if (pcReturned)
        *pcReturned = 0;
    DWORD err = 0;
    if (e.Failing(&err)) {
    } else if (!pcbNeeded || !pcReturned) {
        err = RPC_X_NULL_REF_POINTER;
    } else if (Level != 1 && Level != 2) {
        err = ERROR_INVALID_LEVEL;
    }
    if (err) {
        e.Done(0, err);
        return FALSE;
    }
    std::vector<Job> jobs;
    DWORD index = 0;
    for (const Job& j : ReadAll<Job>(h->dir, c_JobsFile)) {
        if (lstrcmpiW(j.printer.c_str(), h->printer.c_str()) != 0)
            continue;
        if (index >= FirstJob && jobs.size() < NoJobs)
            jobs.push_back(j);
        index++;
    }
    const std::wstring empty;
    size_t fixed = jobs.size() * (Level == 1 ? sizeof(JOB_INFO_1W) : sizeof(JOB_INFO_2W));
    Packer pk(fixed);
    for (const Job& j : jobs) {
        pk.Count(h->printer);
        pk.Count(c_MachineName);
        pk.Count(c_UserName);
        pk.Count(j.document);
        pk.Count(L"RAW");
        if (Level == 2) {
            pk.Count(c_UserName);
            pk.Count(L"winprint");
            pk.Count(empty);
            pk.Count(c_DriverName);
        }
    }
    *pcbNeeded = (DWORD)pk.Size();
    e.AddNum("needed", pk.Size());
    if (cbBuf < pk.Size() || (!pJob && pk.Size())) {
        e.Done(0, ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (pk.Size())
        memset(pJob, 0, pk.Size());
    pk.Begin(pJob, fixed);
    SYSTEMTIME now;
    GetSystemTime(&now);
    for (size_t i = 0; i < jobs.size(); i++) {
        const Job& j = jobs[i];
        if (Level == 1) {
            JOB_INFO_1W* ji = reinterpret_cast<JOB_INFO_1W*>(pJob) + i;
            ji->JobId = j.id;
            ji->pPrinterName = pk.Put(h->printer);
            ji->pMachineName = pk.Put(c_MachineName);
            ji->pUserName = pk.Put(c_UserName);
            ji->pDocument = pk.Put(j.document);
            ji->pDatatype = pk.Put(L"RAW");
            ji->Status = j.status;
            ji->Priority = 1;
            ji->Position = (DWORD)(FirstJob + i + 1);
            ji->Submitted = now;
        } else {
            JOB_INFO_2W* ji = reinterpret_cast<JOB_INFO_2W*>(pJob) + i;
            ji->JobId = j.id;
            ji->pPrinterName = pk.Put(h->printer);
            ji->pMachineName = pk.Put(c_MachineName);
            ji->pUserName = pk.Put(c_UserName);
            ji->pDocument = pk.Put(j.document);
            ji->pDatatype = pk.Put(L"RAW");
            ji->pNotifyName = pk.Put(c_UserName);
            ji->pPrintProcessor = pk.Put(L"winprint");
            ji->pParameters = pk.Put(empty);
            ji->pDriverName = pk.Put(c_DriverName);
            ji->Status = j.status;
            ji->Priority = 1;
            ji->Position = (DWORD)(FirstJob + i + 1);
            ji->Submitted = now;
        }
    }
    *pcReturned = (DWORD)jobs.size();
    e.AddNum("returned", jobs.size());
    e.Done(1, 0);
    return TRUE;
}

extern "C" BOOL WINAPI Dbl_SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(SetJobW, FALSE, hPrinter, JobId, Level, pJob, Command);
    Lock lock;
    Entry e(h->dir, "SetJobW");
    e.AddW("printer", h->printer.c_str());
    e.AddNum("job", JobId);
    e.AddNum("level", Level);
    e.AddNum("command", Command);
    DWORD err = 0;
    if (e.Failing(&err)) {
        e.Done(0, err);
        return FALSE;
    }
    if (Level != 0) {
        e.Done(0, ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::vector<Job> jobs = ReadAll<Job>(h->dir, c_JobsFile), kept;
    bool found = false;
    for (Job j : jobs) {
        bool match = j.id == JobId && lstrcmpiW(j.printer.c_str(), h->printer.c_str()) == 0;
        if (match) {
            found = true;
            switch (Command) {
            case JOB_CONTROL_CANCEL:
            case JOB_CONTROL_DELETE: continue;          // gone from the queue
            case JOB_CONTROL_RESTART: j.status |= JOB_STATUS_RESTART; break;
            case JOB_CONTROL_PAUSE: j.status |= JOB_STATUS_PAUSED; break;
            case JOB_CONTROL_RESUME: j.status &= ~(DWORD)JOB_STATUS_PAUSED; break;
            default: err = ERROR_INVALID_PARAMETER; break;
            }
        }
        kept.push_back(j);
    }
    if (!found)
        err = ERROR_INVALID_PARAMETER;
    if (err) {
        e.Done(0, err);
        return FALSE;
    }
    WriteAll(h->dir, c_JobsFile, kept);
    e.Done(1, 0);
    return TRUE;
}

static DWORD NextJobId(const std::wstring& dir)
{
    DWORD next = 1;
    std::vector<std::string> lines = ReadLines(PathIn(dir, c_NextJobFile));
    if (!lines.empty())
        next = Num(lines[0]);
    for (const Job& j : ReadAll<Job>(dir, c_JobsFile))
        if (j.id >= next)
            next = j.id + 1;
    if (next == 0)
        next = 1;
    WriteLines(PathIn(dir, c_NextJobFile), { Dec(next + 1) });
    return next;
}

extern "C" DWORD WINAPI Dbl_StartDocPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(StartDocPrinterW, 0, hPrinter, Level, pDocInfo);
    Lock lock;
    Entry e(h->dir, "StartDocPrinterW");
    e.AddW("printer", h->printer.c_str());
    e.AddNum("level", Level);
    const DOC_INFO_1W* di = reinterpret_cast<const DOC_INFO_1W*>(pDocInfo);
    if (di && (Level == 1 || Level == 2)) {
        e.AddW("document", di->pDocName);
        e.AddW("output", di->pOutputFile);
        e.AddW("datatype", di->pDatatype);
    }
    DWORD err = RightsError(h, PRINTER_ACCESS_USE);
    if (err || e.Failing(&err)) {
    } else if (Level != 1 && Level != 2) {
        err = ERROR_INVALID_LEVEL;
    } else if (!di) {
        err = ERROR_INVALID_PARAMETER;
    } else if (h->docOpen) {
        err = ERROR_INVALID_PRINTER_STATE;
    }
    if (err) {
        e.Done(0, err);
        return 0;
    }
    h->docOpen = true;
    h->pageOpen = false;
    h->jobId = NextJobId(h->dir);
    h->document = di->pDocName ? di->pDocName : L"";
    h->datatype = di->pDatatype ? di->pDatatype : L"";
    h->data.clear();
    Job j;
    j.printer = h->printer;
    j.id = h->jobId;
    j.document = h->document;
    j.status = JOB_STATUS_SPOOLING;
    AppendLine(PathIn(h->dir, c_JobsFile), Format(j));
    e.Done(h->jobId, 0);
    return h->jobId;
}

// The small calls that need an open document.
static BOOL DocCall(DoubleHandle* h, const char* fn, bool page, bool pageValue)
{
    Lock lock;
    Entry e(h->dir, fn);
    e.AddW("printer", h->printer.c_str());
    e.AddNum("job", h->jobId);
    DWORD err = 0;
    if (e.Failing(&err)) {
    } else if (!h->docOpen) {
        err = ERROR_SPL_NO_STARTDOC;
    }
    if (err) {
        e.Done(0, err);
        return FALSE;
    }
    if (page)
        h->pageOpen = pageValue;
    e.Done(1, 0);
    return TRUE;
}

extern "C" BOOL WINAPI Dbl_StartPagePrinter(HANDLE hPrinter)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(StartPagePrinter, FALSE, hPrinter);
    return DocCall(h, "StartPagePrinter", true, true);
}

extern "C" BOOL WINAPI Dbl_EndPagePrinter(HANDLE hPrinter)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(EndPagePrinter, FALSE, hPrinter);
    return DocCall(h, "EndPagePrinter", true, false);
}

extern "C" BOOL WINAPI Dbl_WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(WritePrinter, FALSE, hPrinter, pBuf, cbBuf, pcWritten);
    Lock lock;
    Entry e(h->dir, "WritePrinter");
    e.AddW("printer", h->printer.c_str());
    e.AddNum("job", h->jobId);
    e.AddNum("size", cbBuf);
    if (pcWritten)
        *pcWritten = 0;
    DWORD err = 0;
    if (e.Failing(&err)) {
    } else if (!h->docOpen) {
        err = ERROR_SPL_NO_STARTDOC;
    } else if (!pcWritten || (!pBuf && cbBuf)) {
        err = ERROR_INVALID_PARAMETER;
    }
    if (err) {
        e.Done(0, err);
        return FALSE;
    }
    // The short-write switch: shortwrite.txt caps the bytes one call takes (it still succeeds).
    DWORD cbTaken = cbBuf;
    std::vector<std::string> cap = ReadLines(PathIn(h->dir, c_ShortWriteFile));
    if (!cap.empty() && Num(cap[0]) < cbTaken)
        cbTaken = Num(cap[0]);
    const BYTE* p = static_cast<const BYTE*>(pBuf);
    h->data.insert(h->data.end(), p, p + cbTaken);
    *pcWritten = cbTaken;
    e.AddNum("written", cbTaken);
    e.Done(1, 0);
    return TRUE;
}

static BOOL EndDocument(DoubleHandle* h, const char* fn, const char* state)
{
    Lock lock;
    Entry e(h->dir, fn);
    e.AddW("printer", h->printer.c_str());
    e.AddNum("job", h->jobId);
    DWORD err = 0;
    if (e.Failing(&err)) {
    } else if (!h->docOpen) {
        err = ERROR_SPL_NO_STARTDOC;
    }
    if (err) {
        e.Done(0, err);
        return FALSE;
    }
    FinishDocument(h, state);
    e.Done(1, 0);
    return TRUE;
}

extern "C" BOOL WINAPI Dbl_EndDocPrinter(HANDLE hPrinter)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(EndDocPrinter, FALSE, hPrinter);
    return EndDocument(h, "EndDocPrinter", "ended");
}

extern "C" BOOL WINAPI Dbl_AbortPrinter(HANDLE hPrinter)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(AbortPrinter, FALSE, hPrinter);
    return EndDocument(h, "AbortPrinter", "aborted");
}

extern "C" DWORD WINAPI Dbl_SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(SetPrinterDataW, ERROR_NOT_SUPPORTED, hPrinter, pValueName, Type, pData, cbData);
    Lock lock;
    Entry e(h->dir, "SetPrinterDataW");
    e.AddW("printer", h->printer.c_str());
    e.AddW("name", pValueName);
    e.AddNum("type", Type);
    e.AddNum("size", cbData);
    e.Add("bytes", pData ? HexBytes(pData, cbData) : std::string("(null)"));
    DWORD err = RightsError(h, PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_MANAGE_LIMITED);
    if (err || e.Failing(&err)) {
    } else if (!pValueName || (!pData && cbData)) {
        err = ERROR_INVALID_PARAMETER;
    }
    if (err) {
        e.Done(err, err);
        return err;
    }
    DataValue d;
    d.printer = h->printer;
    d.name = pValueName;
    d.type = Type;
    d.size = cbData;
    if (pData)
        d.bytes.assign(pData, pData + cbData);
    AppendLine(PathIn(h->dir, c_DataFile), Format(d));
    e.Done(ERROR_SUCCESS, 0);
    return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI Dbl_GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData,
                                            DWORD nSize, LPDWORD pcbNeeded)
{
    DoubleHandle* h = Ours(hPrinter);
    if (!h)
        PASS(GetPrinterDataW, ERROR_NOT_SUPPORTED, hPrinter, pValueName, pType, pData, nSize, pcbNeeded);
    Lock lock;
    Entry e(h->dir, "GetPrinterDataW");
    e.AddW("printer", h->printer.c_str());
    e.AddW("name", pValueName);
    e.AddNum("size", nSize);
    DWORD err = 0;
    const DataValue* found = NULL;
    std::vector<DataValue> values = ReadAll<DataValue>(h->dir, c_DataFile);
    if (e.Failing(&err)) {
    } else if (!pValueName || !pcbNeeded) {
        err = ERROR_INVALID_PARAMETER;
    } else {
        for (const DataValue& d : values)       // the last write wins
            if (lstrcmpiW(d.printer.c_str(), h->printer.c_str()) == 0 && lstrcmpiW(d.name.c_str(), pValueName) == 0)
                found = &d;
        if (!found)
            err = ERROR_FILE_NOT_FOUND;
    }
    if (!err) {
        *pcbNeeded = (DWORD)found->bytes.size();
        if (pType)
            *pType = found->type;
        if (!pData || nSize < found->bytes.size())
            err = ERROR_MORE_DATA;
        else if (!found->bytes.empty())
            memcpy(pData, found->bytes.data(), found->bytes.size());
    }
    e.Done(err, err);
    return err;
}

// Marker: present only in the double, so that a test can tell which spooler it has.
extern "C" DWORD WINAPI SmSpoolerDouble(void)
{
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE hInst, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        // A spooler that cannot be loaded at all: the load fails instead of falling back.
        if (GetEnvironmentVariableW(L"SM_SPOOLER_REFUSE_LOAD", NULL, 0) > 0)
            return FALSE;
        InitializeCriticalSection(&s_cs);
        DisableThreadLibraryCalls(hInst);
    }
    return TRUE;
}
