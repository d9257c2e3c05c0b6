// smctl replay: plays a plain-text scenario against the running monitor. Actions write the
// exchange file as the driver does or press the dialog's buttons (BM_CLICK, like a mouse click);
// expectations look at the dialog, the spooler and the monitor's window from outside, and are
// retried until they hold or the step timeout passes. A step that the monitor acts on (announce,
// reset, message, press) ends only once the monitor has polled the file after it and done its
// work, so that the next expectation sees the monitor's answer and not the state before it.
//
//   printer NAME | jobid N | showqel 0|1 | message N | announce STATUS | reset
//   wait MS | timeout MS
//   expect dialog shown|none
//   expect line CONTROL [TEXT]          (no text: the slot is empty)
//   expect button delete|continue shown|hidden
//   expect spooler 0xXXXXXXXX           (the status word of the printer "PrinterName" names)
//   expect job ID present|absent
//   expect monitor running|ended [CLASS]
//   press delete|continue
//   shot FILE.bmp
// Blank lines and lines starting with # are skipped.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_replay.h"
#include "tools/smctl/smctl_status.h"
#include "tools/smctl/smctl_ui.h"
#include "status/status.h"
#include "app/app.h"
#include "util/misc.h"
#include "util/trace.h"
#include <winspool.h>
#include <limits.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const DWORD c_msDefaultTimeout = 5000;
const DWORD c_msRetry = 100;
const DWORD c_msSettle = 300;           // a fresh update finishes painting before a picture

struct Step {
    int lineNo;
    std::wstring text;                  // the line as written
    std::vector<std::wstring> words;    // the first words
    std::wstring rest;                  // what follows the command (and the kind for expect)
};

std::wstring Trim(const std::wstring& s)
{
    size_t a = s.find_first_not_of(L" \t");
    if (a == std::wstring::npos)
        return L"";
    size_t b = s.find_last_not_of(L" \t");
    return s.substr(a, b - a + 1);
}

// The first n words, and the rest of the line after them.
void Split(const std::wstring& line, size_t n, std::vector<std::wstring>* pWords, std::wstring* pRest)
{
    size_t pos = 0;
    pWords->clear();
    while (pWords->size() < n) {
        size_t a = line.find_first_not_of(L" \t", pos);
        if (a == std::wstring::npos) {
            pos = line.size();
            break;
        }
        size_t b = line.find_first_of(L" \t", a);
        if (b == std::wstring::npos)
            b = line.size();
        pWords->push_back(line.substr(a, b - a));
        pos = b;
    }
    *pRest = Trim(line.substr(pos));
}

// The numbers of steps, each within the field it is written to or compared with.
bool Number(const std::wstring& s, long long minimum, long long maximum, long long* pv = NULL, bool fHex = false)
{
    long long v = 0;
    if (!Smctl_ParseNumber(s.c_str(), minimum, maximum, &v, fHex))
        return false;
    if (pv)
        *pv = v;
    return true;
}

// Checks a step's form; an empty result means it is well formed.
std::wstring Validate(const Step& s)
{
    const std::wstring& c = s.words[0];
    const std::vector<std::wstring>& w = s.words;
    if (c == L"printer" || c == L"announce" || c == L"shot")
        return s.rest.empty() ? c + L" needs a value" : L"";
    if (c == L"reset")
        return s.rest.empty() ? L"" : L"reset takes nothing";
    if (c == L"jobid" || c == L"message")
        return Number(s.rest, 0, INT_MAX) ? L"" : c + L" needs a whole number from 0 to 2147483647";
    if (c == L"showqel")
        return Number(s.rest, 0, 1) ? L"" : L"showqel 0 or showqel 1";
    if (c == L"wait" || c == L"timeout")
        return Number(s.rest, 0, SMCTL_MS_MAX_WAIT) ? L"" : c + L" needs milliseconds from 0 to 600000";
    if (c == L"press")
        return s.rest == L"delete" || s.rest == L"continue" ? L"" : L"press delete or press continue";
    if (c != L"expect")
        return L"unknown step \"" + c + L"\"";
    if (w.size() < 2)
        return L"expect what?";
    const std::wstring& k = w[1];
    std::vector<std::wstring> a;
    std::wstring tail;
    Split(s.rest, 3, &a, &tail);
    if (k == L"dialog")
        return s.rest == L"shown" || s.rest == L"none" ? L"" : L"expect dialog shown|none";
    if (k == L"line") {
        return !a.empty() && Number(a[0], IDC_SM_MSG_FIRST, IDC_SM_MSG_FIRST + IDC_SM_MSG_SLOTS - 1)
                   ? L"" : L"expect line 1001..1012 [text]";
    }
    if (k == L"button")
        return a.size() == 2 && tail.empty() && (a[0] == L"delete" || a[0] == L"continue")
                       && (a[1] == L"shown" || a[1] == L"hidden")
                   ? L"" : L"expect button delete|continue shown|hidden";
    if (k == L"spooler")
        return Number(s.rest, 0, UINT_MAX, NULL, true) ? L"" : L"expect spooler 0xXXXXXXXX";
    if (k == L"job")
        return a.size() == 2 && tail.empty() && Number(a[0], 1, UINT_MAX) && (a[1] == L"present" || a[1] == L"absent")
                   ? L"" : L"expect job ID present|absent";
    if (k == L"monitor")
        return (a.size() == 1 || a.size() == 2) && tail.empty() && (a[0] == L"running" || a[0] == L"ended")
                   ? L"" : L"expect monitor running|ended [class]";
    return L"unknown expectation \"" + k + L"\"";
}

bool ReadScenario(const std::wstring& path, std::vector<Step>* pSteps)
{
    std::string bytes;
    std::wstring text;
    SMCTL_ENCODING enc = Smctl_ReadFile(path.c_str(), &bytes);
    if (!Smctl_DecodeText(enc, bytes, &text)) {
        Smctl_Error(L"%s is %s; write the scenario as UTF-8 or UTF-16 text", path.c_str(), Smctl_EncodingName(enc));
        return false;
    }
    bool ok = true;
    int lineNo = 0;
    for (std::wstring line : Smctl_Lines(text)) {
        lineNo++;
        line = Trim(line);
        if (line.empty() || line[0] == L'#')
            continue;
        Step s;
        s.lineNo = lineNo;
        s.text = line;
        Split(line, 1, &s.words, &s.rest);
        if (s.words[0] == L"expect") {
            Split(line, 2, &s.words, &s.rest);
        }
        std::wstring problem = Validate(s);
        if (!problem.empty()) {
            Smctl_Error(L"%s line %d: %s: %s; \"smctl help replay\" lists the steps", path.c_str(), lineNo, line.c_str(),
                        problem.c_str());
            ok = false;
        }
        pSteps->push_back(s);
    }
    if (ok && pSteps->empty()) {
        Smctl_Error(L"%s holds no steps; write one step a line", path.c_str());
        ok = false;
    }
    return ok;
}

// The spooler side, through the spooler's own calls on the printer the exchange file names.
bool PrinterStatus(DWORD* pStatus, std::wstring* pWhy)
{
    SM_GetPrinterNameFromIni();
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(g_MonitorPrinterName, &hPrinter, NULL)) {
        *pWhy = L"cannot open the printer \"" + std::wstring(g_MonitorPrinterName) + L"\"";
        return false;
    }
    DWORD cbNeeded = 0;
    GetPrinterW(hPrinter, 2, NULL, 0, &cbNeeded);
    std::vector<BYTE> buf(cbNeeded ? cbNeeded : 1);
    bool ok = GetPrinterW(hPrinter, 2, buf.data(), (DWORD)buf.size(), &cbNeeded) != FALSE;
    if (ok)
        *pStatus = reinterpret_cast<const PRINTER_INFO_2W*>(buf.data())->Status;
    else
        *pWhy = L"GetPrinterW failed";
    ClosePrinter(hPrinter);
    return ok;
}

int ButtonId(const std::wstring& name)
{
    return name == L"continue" ? IDC_SM_CONTINUE : IDC_SM_DELETE;
}

// One look at the world for an expectation; *pSeen tells what was found when it does not hold.
bool Holds(const Step& s, std::wstring* pSeen)
{
    const std::wstring& k = s.words[1];
    std::vector<std::wstring> a;
    std::wstring tail;
    Split(s.rest, 2, &a, &tail);
    WCHAR sz[512];
    if (k == L"dialog") {
        bool shown = SmctlUi_WaitForDialog(0) != NULL;
        *pSeen = shown ? L"a dialog is shown" : L"no dialog";
        return shown == (s.rest == L"shown");
    }
    if (k == L"monitor") {
        WCHAR szClass[SM_CCH_PATH];
        SmctlUi_MonitorClass(a.size() == 2 ? a[1].c_str() : NULL, szClass, ARRAYSIZE(szClass));
        bool running = FindWindowW(szClass, NULL) != NULL;
        *pSeen = running ? L"it runs" : L"it does not run";
        return running == (a[0] == L"running");
    }
    if (k == L"spooler") {
        DWORD status = 0;
        if (!PrinterStatus(&status, pSeen))
            return false;
        MISC_Format(sz, ARRAYSIZE(sz), L"0x%08X", (unsigned)status);
        *pSeen = sz;
        long long want = 0;
        Number(s.rest, 0, UINT_MAX, &want, true);
        return status == (DWORD)want;
    }
    if (k == L"job") {
        bool present = false;
        long long id = 0;
        Number(a[0], 1, UINT_MAX, &id);
        if (!SmctlUi_JobQueued((DWORD)id, &present, pSeen))
            return false;
        *pSeen = present ? L"present" : L"absent";
        return present == (a[1] == L"present");
    }
    HWND hDlg = SmctlUi_WaitForDialog(0);
    if (!hDlg) {
        *pSeen = L"no dialog";
        return false;
    }
    if (k == L"line") {
        // The text is everything after the control id, as written.
        std::vector<std::wstring> idOnly;
        std::wstring text;
        Split(s.rest, 1, &idOnly, &text);
        long long id = 0;
        Number(a[0], IDC_SM_MSG_FIRST, IDC_SM_MSG_FIRST + IDC_SM_MSG_SLOTS - 1, &id);
        SmctlUi_ControlText(hDlg, (int)id, sz, ARRAYSIZE(sz));
        *pSeen = L"\"" + std::wstring(sz) + L"\"";
        return text == sz;
    }
    // button
    bool shown = IsWindowVisible(GetDlgItem(hDlg, ButtonId(a[0]))) != FALSE;
    *pSeen = shown ? L"shown" : L"hidden";
    return shown == (a[1] == L"shown");
}

WCHAR s_szClass[SM_CCH_PATH];           // the monitor played against

// The monitor's window, looked for again each time (a 9x-class monitor ends after Delete).
HWND Monitor(void)
{
    return FindWindowW(s_szClass, NULL);
}

// After a step the monitor acts on: its next poll has read the file and what it did is done.
// A monitor that ended meanwhile has acted too (on a 9x-class system a reset ends it).
bool WaitForMonitor(const Step& s, DWORD msTimeout, std::wstring* pWhy)
{
    HWND hMonitor = Monitor();
    if (!hMonitor)
        return true;
    if (!SmctlUi_WaitForPoll(hMonitor, msTimeout) && IsWindow(hMonitor)) {
        *pWhy = L"the monitor did not poll the file within the timeout";
        return false;
    }
    // A reset is answered in the file: the monitor writes "Message" 0 once it has reset.
    bool reset = s.words[0] == L"reset" || (s.words[0] == L"message" && _wtoi(s.rest.c_str()) == WM_SM_EXIT);
    DWORD start = GetTickCount();
    while (reset && IsWindow(hMonitor) && SM_GetIniInt(SM_SECTION_PRINTER, L"Message", 0) != 0) {
        if (GetTickCount() - start >= msTimeout) {
            *pWhy = L"the monitor did not answer the reset (\"Message\" is not 0)";
            return false;
        }
        Sleep(c_msRetry);
    }
    return true;
}

// Runs an action step; false with a reason when it could not be done.
bool Act(const Step& s, DWORD msTimeout, std::wstring* pWhy)
{
    const std::wstring& c = s.words[0];
    if (c == L"printer")
        return SmctlStatus_Write(SM_SECTION_PRINTER, L"PrinterName", s.rest.c_str());
    if (c == L"jobid")
        return SmctlStatus_Write(SM_SECTION_JOB, L"JobID", s.rest.c_str());
    if (c == L"showqel")
        return SmctlStatus_Write(SM_SECTION_PRINTER, L"ShowQelSM", s.rest.c_str());
    if (c == L"message")
        return SmctlStatus_Write(SM_SECTION_PRINTER, L"Message", s.rest.c_str()) && WaitForMonitor(s, msTimeout, pWhy);
    if (c == L"announce")
        return SmctlStatus_Announce(s.rest.c_str()) && WaitForMonitor(s, msTimeout, pWhy);
    if (c == L"reset") {
        WCHAR sz[16];
        MISC_Format(sz, ARRAYSIZE(sz), L"%d", WM_SM_EXIT);
        return SmctlStatus_Write(SM_SECTION_PRINTER, L"Message", sz) && WaitForMonitor(s, msTimeout, pWhy);
    }
    if (c == L"wait") {
        long long ms = 0;
        Number(s.rest, 0, SMCTL_MS_MAX_WAIT, &ms);
        Sleep((DWORD)ms);
        return true;
    }
    if (!Monitor()) {
        *pWhy = L"the monitor does not run";
        return false;
    }
    HWND hDlg = SmctlUi_WaitForDialog(msTimeout);
    if (!hDlg) {
        *pWhy = L"no dialog";
        return false;
    }
    if (c == L"press") {
        HWND hButton = GetDlgItem(hDlg, ButtonId(s.rest));
        if (!IsWindowVisible(hButton)) {
            *pWhy = L"the button is not shown";
            return false;
        }
        SendMessageW(hButton, BM_CLICK, 0, 0);
        return WaitForMonitor(s, msTimeout, pWhy);
    }
    // shot
    Sleep(c_msSettle);
    if (!SmctlUi_SaveShot(hDlg, Smctl_FullPath(s.rest.c_str()).c_str())) {
        *pWhy = L"the picture cannot be saved";
        return false;
    }
    return true;
}

} // namespace

int Smctl_Replay(int argc, wchar_t** argv)
{
    LPCWSTR pszClass = NULL;
    if (argc == 3 && wcscmp(argv[1], L"--class") == 0)
        pszClass = argv[2];
    else if (argc != 1)
        return Smctl_Usage(L"replay", L"one scenario file and at most --class CLASS");
    SmctlUi_MonitorClass(pszClass, s_szClass, ARRAYSIZE(s_szClass));
    std::vector<Step> steps;
    if (!ReadScenario(Smctl_FullPath(argv[0]), &steps))
        return SMCTL_EXIT_USAGE;
    if (!Monitor()) {
        Smctl_Error(L"no monitor is running (window class %s); start it with \"StatusMonitor.exe install\"",
                    s_szClass);
        return SMCTL_EXIT_USAGE;
    }
    if (!SmctlStatus_Open())
        return SMCTL_EXIT_USAGE;

    DWORD msTimeout = c_msDefaultTimeout;
    int failed = 0;
    for (const Step& s : steps) {
        bool ok = true;
        std::wstring why;
        if (s.words[0] == L"timeout") {
            long long ms = 0;
            Number(s.rest, 0, SMCTL_MS_MAX_WAIT, &ms);
            msTimeout = (DWORD)ms;
        } else if (s.words[0] == L"expect") {
            // What only a running monitor can show fails at once when it has ended.
            const std::wstring& k = s.words[1];
            bool needsMonitor = k == L"line" || k == L"button" || (k == L"dialog" && s.rest == L"shown");
            DWORD start = GetTickCount();
            while (!(ok = Holds(s, &why)) && GetTickCount() - start < msTimeout) {
                if (needsMonitor && !Monitor()) {
                    why = L"the monitor does not run";
                    break;
                }
                Sleep(c_msRetry);
            }
        } else {
            ok = Act(s, msTimeout, &why);
        }
        if (ok)
            Smctl_Print(L"ok    %3d  %s\n", s.lineNo, s.text.c_str());
        else
            Smctl_Print(L"FAIL  %3d  %s: %s\n", s.lineNo, s.text.c_str(), why.empty() ? L"not done" : why.c_str());
        failed += !ok;
    }
    Smctl_Print(L"%u steps, %d failed\n", (unsigned)steps.size(), failed);
    return failed ? SMCTL_EXIT_FAILED : SMCTL_EXIT_DONE;
}
