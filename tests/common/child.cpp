#include "smtest.h"
#include <string.h>

namespace {

const char c_SpoolerDoubleMarker[] = "SmSpoolerDouble";

bool ReadChild(HANDLE hProcess, const BYTE* base, DWORD rva, void* pBuf, size_t cb)
{
    SIZE_T cbRead = 0;
    return ReadProcessMemory(hProcess, base + rva, pBuf, cb, &cbRead) && cbRead == cb;
}

// A zero-ended name at rva: from the export directory copy when it lies inside, else read.
std::string ExportString(HANDLE hProcess, const BYTE* base, const std::vector<BYTE>& dir, DWORD dirRva, DWORD rva)
{
    if (rva >= dirRva && rva - dirRva < dir.size()) {
        const char* p = reinterpret_cast<const char*>(dir.data()) + (rva - dirRva);
        return std::string(p, strnlen(p, dir.size() - (rva - dirRva)));
    }
    char buf[128] = "";
    SIZE_T cbRead = 0;
    ReadProcessMemory(hProcess, base + rva, buf, sizeof(buf) - 1, &cbRead);
    return std::string(buf, strnlen(buf, cbRead));
}

// Reads the export directory of a library just mapped into the child: its name, and whether
// the spooler double's marker is among the exported names.
bool ReadModule(HANDLE hProcess, const BYTE* base, SmModule* pModule)
{
    IMAGE_DOS_HEADER dos;
    if (!ReadChild(hProcess, base, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    IMAGE_NT_HEADERS64 nt;
    if (!ReadChild(hProcess, base, (DWORD)dos.e_lfanew, &nt, sizeof(nt)) || nt.Signature != IMAGE_NT_SIGNATURE ||
        nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC ||
        nt.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT)
        return false;
    const IMAGE_DATA_DIRECTORY& entry = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!entry.VirtualAddress || entry.Size < sizeof(IMAGE_EXPORT_DIRECTORY))
        return false;
    std::vector<BYTE> dir(entry.Size);
    if (!ReadChild(hProcess, base, entry.VirtualAddress, dir.data(), dir.size()))
        return false;
    IMAGE_EXPORT_DIRECTORY exports;
    memcpy(&exports, dir.data(), sizeof(exports));
    pModule->name = ExportString(hProcess, base, dir, entry.VirtualAddress, exports.Name);
    pModule->spoolerDouble = false;
    if (_stricmp(pModule->name.c_str(), "winspool.drv") != 0 || !exports.NumberOfNames)
        return true;
    std::vector<DWORD> names(exports.NumberOfNames);
    if (!ReadChild(hProcess, base, exports.AddressOfNames, names.data(), names.size() * sizeof(DWORD)))
        return true;
    for (DWORD rva : names) {
        if (ExportString(hProcess, base, dir, entry.VirtualAddress, rva) == c_SpoolerDoubleMarker) {
            pModule->spoolerDouble = true;
            break;
        }
    }
    return true;
}

} // namespace

SmChild::SmChild()
    : m_hThread(NULL), m_hStarted(CreateEventW(NULL, TRUE, FALSE, NULL)), m_hProcess(NULL),
      m_exited(0), m_killRequested(0), m_startOk(false), m_exitCode(STILL_ACTIVE), m_pid(0)
{
    InitializeCriticalSection(&m_cs);
}

SmChild::~SmChild()
{
    if (m_hThread) {
        if (!Exited())
            Kill();
        WaitForSingleObject(m_hThread, 10000);
        CloseHandle(m_hThread);
    }
    if (m_hStarted)
        CloseHandle(m_hStarted);
    DeleteCriticalSection(&m_cs);
}

bool SmChild::Start(const std::wstring& exe, const std::wstring& args)
{
    m_cmdLine = L"\"" + exe + L"\"";
    if (!args.empty())
        m_cmdLine += L" " + args;
    m_hThread = CreateThread(NULL, 0, ThreadProc, this, 0, NULL);
    if (!m_hThread)
        return false;
    WaitForSingleObject(m_hStarted, 30000);
    return m_startOk;
}

DWORD WINAPI SmChild::ThreadProc(LPVOID param)
{
    static_cast<SmChild*>(param)->DebugLoop();
    return 0;
}

void SmChild::DebugLoop()
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<WCHAR> cmd(m_cmdLine.begin(), m_cmdLine.end());
    cmd.push_back(0);
    if (!CreateProcessW(NULL, cmd.data(), NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL, &si, &pi)) {
        InterlockedExchange(&m_exited, 1);
        SetEvent(m_hStarted);
        return;
    }
    m_hProcess = pi.hProcess;
    m_pid = pi.dwProcessId;
    CloseHandle(pi.hThread);
    m_startOk = true;
    SetEvent(m_hStarted);

    for (;;) {
        DEBUG_EVENT ev;
        if (!WaitForDebugEvent(&ev, 100)) {
            if (m_killRequested)
                TerminateProcess(m_hProcess, 0xDEAD);
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (ev.u.CreateProcessInfo.hFile)
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT: {
            if (ev.u.LoadDll.hFile)
                CloseHandle(ev.u.LoadDll.hFile);
            SmModule module;
            if (ReadModule(m_hProcess, static_cast<const BYTE*>(ev.u.LoadDll.lpBaseOfDll), &module)) {
                EnterCriticalSection(&m_cs);
                m_modules.push_back(module);
                LeaveCriticalSection(&m_cs);
            }
            break;
        }
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = ev.u.DebugString;
            size_t cb = info.nDebugStringLength * (info.fUnicode ? 2 : 1);
            std::vector<char> buf(cb + 2, 0);
            SIZE_T cbRead = 0;
            ReadProcessMemory(m_hProcess, info.lpDebugStringData, buf.data(), cb, &cbRead);
            std::string line;
            if (info.fUnicode) {
                std::wstring w(reinterpret_cast<const wchar_t*>(buf.data()));
                line = SmNarrow(w);
            } else {
                line = buf.data();
            }
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            EnterCriticalSection(&m_cs);
            m_lines.push_back(line);
            LeaveCriticalSection(&m_cs);
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            m_exitCode = ev.u.ExitProcess.dwExitCode;
            break;
        default:
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
        if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            break;
    }
    CloseHandle(m_hProcess);
    m_hProcess = NULL;
    InterlockedExchange(&m_exited, 1);
}

bool SmChild::Exited() const
{
    return m_exited != 0;
}

bool SmChild::WaitExit(DWORD msTimeout)
{
    if (!m_hThread)
        return true;
    return WaitForSingleObject(m_hThread, msTimeout) == WAIT_OBJECT_0;
}

std::vector<std::string> SmChild::Lines() const
{
    EnterCriticalSection(&m_cs);
    std::vector<std::string> copy = m_lines;
    LeaveCriticalSection(&m_cs);
    return copy;
}

std::vector<SmModule> SmChild::Modules() const
{
    EnterCriticalSection(&m_cs);
    std::vector<SmModule> copy = m_modules;
    LeaveCriticalSection(&m_cs);
    return copy;
}

const SmModule* SmFindModule(const std::vector<SmModule>& modules, const char* name)
{
    for (const SmModule& m : modules) {
        if (_stricmp(m.name.c_str(), name) == 0)
            return &m;
    }
    return NULL;
}

bool SmChild::WaitForLine(const std::string& text, DWORD msTimeout) const
{
    DWORD start = GetTickCount();
    for (;;) {
        if (SmContains(Lines(), text))
            return true;
        if (GetTickCount() - start >= msTimeout || Exited())
            return SmContains(Lines(), text);
        Sleep(20);
    }
}

void SmChild::Kill()
{
    InterlockedExchange(&m_killRequested, 1);
}

SmRunResult SmRun(const std::wstring& exe, const std::wstring& args, DWORD msTimeout)
{
    SmRunResult result = { false, STILL_ACTIVE, {}, {} };
    SmChild child;
    if (!child.Start(exe, args))
        return result;
    result.finished = child.WaitExit(msTimeout);
    if (!result.finished) {
        child.Kill();
        child.WaitExit(10000);
    }
    result.exitCode = child.ExitCode();
    result.lines = child.Lines();
    result.modules = child.Modules();
    return result;
}
