#include "smtest.h"

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

// The loaded DLL's base name in lower case: from the name the loader passes, else from the file.
static std::string DllBaseName(HANDLE hProcess, const LOAD_DLL_DEBUG_INFO& info)
{
    std::wstring name;
    void* pName = NULL;
    SIZE_T cbRead = 0;
    if (info.lpImageName &&
        ReadProcessMemory(hProcess, info.lpImageName, &pName, sizeof(pName), &cbRead) && pName) {
        // Unit by unit: the name may end just before an unreadable page.
        size_t cbUnit = info.fUnicode ? sizeof(WCHAR) : 1;
        for (size_t i = 0; i < MAX_PATH; i++) {
            WCHAR unit = 0;
            if (!ReadProcessMemory(hProcess, (const BYTE*)pName + i * cbUnit, &unit, cbUnit, &cbRead) || !unit)
                break;
            name += unit;
        }
    }
    if (name.empty() && info.hFile) {
        WCHAR path[MAX_PATH] = {};
        if (GetFinalPathNameByHandleW(info.hFile, path, ARRAYSIZE(path), 0) < ARRAYSIZE(path))
            name = path;
    }
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    CharLowerBuffW(&name[0], (DWORD)name.size());
    return SmNarrow(name);
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
            std::string dll = DllBaseName(m_hProcess, ev.u.LoadDll);
            EnterCriticalSection(&m_cs);
            m_dlls.push_back(dll);
            LeaveCriticalSection(&m_cs);
            if (ev.u.LoadDll.hFile)
                CloseHandle(ev.u.LoadDll.hFile);
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

std::vector<std::string> SmChild::Dlls() const
{
    EnterCriticalSection(&m_cs);
    std::vector<std::string> copy = m_dlls;
    LeaveCriticalSection(&m_cs);
    return copy;
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
    result.dlls = child.Dlls();
    return result;
}
