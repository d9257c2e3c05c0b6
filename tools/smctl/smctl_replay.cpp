// smctl replay: plays a plain-text scenario against the running monitor. Actions write the
// exchange file as the driver does or press the dialog's buttons (BM_CLICK, like a mouse click);
// expectations look at the dialog, the spooler and the monitor's window from outside, and are
// retried until they hold or the step timeout passes.
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
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const DWORD c_msDefaultTimeout = 5000;
const DWORD c_msRetry = 100;
const DWORD c_msSettle = 300;           // a fresh update finishes painting before a picture
const WCHAR c_DefaultClass[] = L"StatusMonitor";

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

bool IsNumber(const std::wstring& s, long* pv)
{
    if (s.empty())
        return false;
    wchar_t* end = NULL;
    long v = wcstol(s.c_str(), &end, 0);
    if (*end)
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
    if (c == L"jobid" || c == L"showqel" || c == L"message" || c == L"wait" || c == L"timeout")
        return IsNumber(s.rest, NULL) ? L"" : c + L" needs a number";
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
        long id = 0;
        return !a.empty() && IsNumber(a[0], &id) && id >= IDC_SM_MSG_FIRST && id < IDC_SM_MSG_FIRST + IDC_SM_MSG_SLOTS
                   ? L"" : L"expect line 1001..1012 [text]";
    }
    if (k == L"button")
        return a.size() == 2 && tail.empty() && (a[0] == L"delete" || a[0] == L"continue")
                       && (a[1] == L"shown" || a[1] == L"hidden")
                   ? L"" : L"expect button delete|continue shown|hidden";
    if (k == L"spooler")
        return IsNumber(s.rest, NULL) ? L"" : L"expect spooler 0xXXXXXXXX";
    if (k == L"job")
        return a.size() == 2 && tail.empty() && IsNumber(a[0], NULL) && (a[1] == L"present" || a[1] == L"absent")
                   ? L"" : L"expect job ID present|absent";
    if (k == L"monitor")
        return (a.size() == 1 || a.size() == 2) && tail.empty() && (a[0] == L"running" || a[0] == L"ended")
                   ? L"" : L"expect monitor running|ended [class]";
    return L"unknown expectation \"" + k + L"\"";
}

bool ReadScenario(LPCWSTR pszPath, std::vector<Step>* pSteps)
{
    HANDLE h = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        Smctl_Error(L"cannot open %ls (error %lu)", pszPath, GetLastError());
        return false;
    }
    std::string bytes;
    char buf[4096];
    DWORD cb = 0;
    while (ReadFile(h, buf, sizeof(buf), &cb, NULL) && cb > 0)
        bytes.append(buf, cb);
    CloseHandle(h);
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    std::wstring text;
    if (!bytes.empty()) {
        int cch = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), NULL, 0);
        text.resize((size_t)cch);
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &text[0], cch);
    }
    bool ok = true;
    int lineNo = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(pos, end - pos);
        pos = end + 1;
        lineNo++;
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
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
            wprintf(L"line %d: %ls: %ls\n", lineNo, line.c_str(), problem.c_str());
            ok = false;
        }
        pSteps->push_back(s);
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

bool JobPresent(DWORD jobId, bool* pPresent, std::wstring* pWhy)
{
    SM_GetPrinterNameFromIni();
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(g_MonitorPrinterName, &hPrinter, NULL)) {
        *pWhy = L"cannot open the printer \"" + std::wstring(g_MonitorPrinterName) + L"\"";
        return false;
    }
    DWORD cbNeeded = 0, cReturned = 0;
    EnumJobsW(hPrinter, 0, 255, 1, NULL, 0, &cbNeeded, &cReturned);
    std::vector<BYTE> buf(cbNeeded ? cbNeeded : 1);
    bool ok = EnumJobsW(hPrinter, 0, 255, 1, buf.data(), (DWORD)buf.size(), &cbNeeded, &cReturned) != FALSE;
    *pPresent = false;
    if (ok) {
        const JOB_INFO_1W* pJobs = reinterpret_cast<const JOB_INFO_1W*>(buf.data());
        for (DWORD i = 0; i < cReturned; i++)
            *pPresent = *pPresent || pJobs[i].JobId == jobId;
    } else {
        *pWhy = L"EnumJobsW failed";
    }
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
        LPCWSTR pszClass = a.size() == 2 ? a[1].c_str() : c_DefaultClass;
        bool running = FindWindowW(pszClass, NULL) != NULL;
        *pSeen = running ? L"it runs" : L"it does not run";
        return running == (a[0] == L"running");
    }
    if (k == L"spooler") {
        DWORD status = 0;
        if (!PrinterStatus(&status, pSeen))
            return false;
        MISC_Format(sz, ARRAYSIZE(sz), L"0x%08X", (unsigned)status);
        *pSeen = sz;
        return status == (DWORD)wcstoul(s.rest.c_str(), NULL, 0);
    }
    if (k == L"job") {
        bool present = false;
        if (!JobPresent((DWORD)wcstoul(a[0].c_str(), NULL, 0), &present, pSeen))
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
        SmctlUi_ControlText(hDlg, _wtoi(a[0].c_str()), sz, ARRAYSIZE(sz));
        *pSeen = L"\"" + std::wstring(sz) + L"\"";
        return text == sz;
    }
    // button
    bool shown = IsWindowVisible(GetDlgItem(hDlg, ButtonId(a[0]))) != FALSE;
    *pSeen = shown ? L"shown" : L"hidden";
    return shown == (a[1] == L"shown");
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
        return SmctlStatus_Write(SM_SECTION_PRINTER, L"Message", s.rest.c_str());
    if (c == L"announce")
        return SmctlStatus_Announce(s.rest.c_str());
    if (c == L"reset") {
        WCHAR sz[16];
        MISC_Format(sz, ARRAYSIZE(sz), L"%d", WM_SM_EXIT);
        return SmctlStatus_Write(SM_SECTION_PRINTER, L"Message", sz);
    }
    if (c == L"wait") {
        Sleep((DWORD)wcstoul(s.rest.c_str(), NULL, 0));
        return true;
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
        return true;
    }
    // shot
    Sleep(c_msSettle);
    if (!SmctlUi_SaveShot(hDlg, s.rest.c_str())) {
        *pWhy = L"the picture cannot be saved";
        return false;
    }
    return true;
}

} // namespace

int Smctl_Replay(int argc, wchar_t** argv)
{
    if (argc != 1) {
        Smctl_Error(L"usage: replay %ls", SMCTL_REPLAY_USAGE);
        return 2;
    }
    std::vector<Step> steps;
    if (!ReadScenario(argv[0], &steps))
        return 2;
    if (!SmctlStatus_Open())
        return 2;

    DWORD msTimeout = c_msDefaultTimeout;
    int failed = 0;
    for (const Step& s : steps) {
        bool ok = true;
        std::wstring why;
        if (s.words[0] == L"timeout") {
            msTimeout = (DWORD)wcstoul(s.rest.c_str(), NULL, 0);
        } else if (s.words[0] == L"expect") {
            DWORD start = GetTickCount();
            while (!(ok = Holds(s, &why)) && GetTickCount() - start < msTimeout)
                Sleep(c_msRetry);
        } else {
            ok = Act(s, msTimeout, &why);
        }
        if (ok)
            wprintf(L"ok    %3d  %ls\n", s.lineNo, s.text.c_str());
        else
            wprintf(L"FAIL  %3d  %ls: %ls\n", s.lineNo, s.text.c_str(), why.empty() ? L"not done" : why.c_str());
        fflush(stdout);
        failed += !ok;
    }
    wprintf(L"%u steps, %d failed\n", (unsigned)steps.size(), failed);
    return failed ? 1 : 0;
}
