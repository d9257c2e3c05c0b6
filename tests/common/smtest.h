// Helpers shared by the test programs (they run under Wine, or on Windows).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A library the child loaded: the name in its export directory, and whether it exports the
// test-double spooler's marker (so a test can tell the double from the system's spooler).
struct SmModule {
    std::string name;
    bool spoolerDouble;
};

// A child process run under a debugger loop on a thread of its own, so that every
// OutputDebugString line is collected in order together with the exit code and the libraries
// it loads.
class SmChild {
public:
    SmChild();
    ~SmChild();
    SmChild(const SmChild&) = delete;
    SmChild& operator=(const SmChild&) = delete;

    // exe: full path; args: the rest of the command line (the program name is put first).
    bool Start(const std::wstring& exe, const std::wstring& args);
    bool WaitExit(DWORD msTimeout);                // true when the process has ended
    DWORD ExitCode() const { return m_exitCode; }
    bool Exited() const;
    std::vector<std::string> Lines() const;        // snapshot of the debugger lines so far
    bool WaitForLine(const std::string& text, DWORD msTimeout) const;   // a line containing text
    std::vector<SmModule> Modules() const;         // snapshot of the libraries loaded so far
    void Kill();
    DWORD Pid() const { return m_pid; }

private:
    static DWORD WINAPI ThreadProc(LPVOID param);
    void DebugLoop();

    std::wstring m_cmdLine;
    HANDLE m_hThread;
    HANDLE m_hStarted;
    HANDLE m_hProcess;
    mutable CRITICAL_SECTION m_cs;
    std::vector<std::string> m_lines;
    std::vector<SmModule> m_modules;
    volatile LONG m_exited;
    volatile LONG m_killRequested;
    bool m_startOk;
    DWORD m_exitCode;
    DWORD m_pid;
};

struct SmRunResult {
    bool finished;
    DWORD exitCode;
    std::vector<std::string> lines;
    std::vector<SmModule> modules;
};
// The loaded library of that export name (compared without case), or NULL.
const SmModule* SmFindModule(const std::vector<SmModule>& modules, const char* name);

// Runs exe with args to its end (or kills it after msTimeout).
SmRunResult SmRun(const std::wstring& exe, const std::wstring& args, DWORD msTimeout = 20000);

// Sets an environment variable of this process (inherited by children) for a scope.
class SmScopedEnv {
public:
    SmScopedEnv(const wchar_t* name, const wchar_t* value) : m_name(name) { SetEnvironmentVariableW(name, value); }
    ~SmScopedEnv() { SetEnvironmentVariableW(m_name, NULL); }
    SmScopedEnv(const SmScopedEnv&) = delete;
    SmScopedEnv& operator=(const SmScopedEnv&) = delete;
private:
    const wchar_t* m_name;
};

// The DPI ("LogPixels") of the processes started while it lives.
struct SmScopedDpi {
    explicit SmScopedDpi(DWORD dpi) { RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, sizeof(dpi)); }
    ~SmScopedDpi() { RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels"); }
};

std::wstring SmTestDir();                          // folder of the running test program
std::wstring SmProgramPath();                      // StatusMonitor.exe beside it
std::wstring SmCopyProgram(const std::wstring& baseName);   // a copy under another base name
std::wstring SmSharedDocuments();                  // the "Common Documents" folder, with a backslash
std::wstring SmStatusIniPath();                    // the exchange file in it
std::wstring SmTempDir(const std::wstring& name);  // a fresh empty folder under the temp directory

bool SmContains(const std::vector<std::string>& lines, const std::string& text);
int  SmCount(const std::vector<std::string>& lines, const std::string& text);
int  SmIndexOf(const std::vector<std::string>& lines, const std::string& exact, int from = 0);

bool SmRegReadString(HKEY root, const std::wstring& key, const std::wstring& value,
                     std::vector<BYTE>* pData, DWORD* pType);
bool SmRegReadDword(HKEY root, const std::wstring& key, const std::wstring& value, DWORD* pValue);
bool SmRegValueExists(HKEY root, const std::wstring& key, const std::wstring& value);
void SmRegDeleteTree(HKEY root, const std::wstring& key);
void SmRegDeleteValue(HKEY root, const std::wstring& key, const std::wstring& value);
// Makes Wine report another Windows version ("win98", "win7", ...) to one program file name.
void SmSetAppVersion(const std::wstring& exeName, const std::wstring& version);

// Dispatches this thread's messages for that long (out-of-process event hooks are called so).
inline void SmPumpMessages(DWORD ms)
{
    MSG msg;
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10))
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
}

std::vector<BYTE> SmReadFile(const std::wstring& path);
bool SmWriteFile(const std::wstring& path, const void* data, size_t cb);
std::string SmNarrow(const std::wstring& s);
// Lines ended by CR LF; a last piece without CR LF is not a line.
std::vector<std::string> SmSplitLines(const std::vector<BYTE>& data);

// Waits until a top-level window of the class (and title, if given) exists.
HWND SmWaitForWindow(LPCWSTR className, LPCWSTR title, DWORD msTimeout);
bool SmWaitForNoWindow(LPCWSTR className, LPCWSTR title, DWORD msTimeout);

// A capture of a window's pixels (BitBlt from its window DC), 32 bits per pixel, top-down.
struct SmImage {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;      // 0x00RRGGBB
    DWORD At(int x, int y) const { return pixels[(size_t)y * width + x] & 0xFFFFFF; }
};
bool SmCaptureWindow(HWND hwnd, SmImage* pImage);          // whole window, frame included
bool SmCaptureClient(HWND hwnd, SmImage* pImage);          // client area only
bool SmSaveImageBmp(const SmImage& image, const std::wstring& path);   // 24-bit BMP
