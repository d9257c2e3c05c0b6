#include "credential_run.h"

namespace {

struct FindCtx { DWORD pid; HWND hwnd; };

BOOL CALLBACK FindDialogOf(HWND hwnd, LPARAM lParam)
{
    FindCtx* ctx = reinterpret_cast<FindCtx*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    WCHAR cls[32] = L"";
    GetClassNameW(hwnd, cls, ARRAYSIZE(cls));
    if (pid == ctx->pid && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd)) {
        ctx->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}

bool WaitForIniMessage(const std::wstring& value, DWORD msTimeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (SmIniMessage() == value)
            return true;
        if (GetTickCount() - start > msTimeout)
            return false;
        Sleep(20);
    }
}

} // namespace

std::wstring SmWindowText(HWND hwnd)
{
    WCHAR buf[1024] = L"";
    SendMessageW(hwnd, WM_GETTEXT, ARRAYSIZE(buf), reinterpret_cast<LPARAM>(buf));
    return buf;
}

std::wstring SmIniMessage()
{
    WCHAR sz[64] = L"";
    GetPrivateProfileStringW(L"Printer Information", L"Message", L"", sz, ARRAYSIZE(sz), SmStatusIniPath().c_str());
    return sz;
}

CredentialRun::~CredentialRun()
{
    if (!m_child.Exited()) {
        m_child.Kill();
        m_child.WaitExit(10000);
    }
}

bool CredentialRun::Open(const std::wstring& args, int idPaintedLabel)
{
    WritePrivateProfileStringW(L"Printer Information", L"Message", L"0", SmStatusIniPath().c_str());
    if (!m_child.Start(SmProgramPath(), args))
        return false;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 15000) {
        FindCtx ctx = { m_child.Pid(), NULL };
        EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&ctx));
        if (ctx.hwnd && !SmWindowText(GetDlgItem(ctx.hwnd, idPaintedLabel)).empty()) {
            m_hDlg = ctx.hwnd;
            return true;
        }
        if (m_child.Exited())
            return false;
        Sleep(20);
    }
    return false;
}

void CredentialRun::Type(int id, const std::wstring& text) const
{
    for (wchar_t ch : text)
        SendMessageW(Item(id), WM_CHAR, ch, 1);
}

bool CredentialRun::Paste(int id, const std::wstring& text) const
{
    if (!OpenClipboard(NULL))
        return false;
    EmptyClipboard();
    size_t cb = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, cb);
    bool ok = false;
    if (h) {
        memcpy(GlobalLock(h), text.c_str(), cb);
        GlobalUnlock(h);
        ok = SetClipboardData(CF_UNICODETEXT, h) != NULL;
        if (!ok)
            GlobalFree(h);
    }
    CloseClipboard();
    if (ok)
        SendMessageW(Item(id), WM_PASTE, 0, 0);
    return ok;
}

std::pair<int, int> CredentialRun::Selection(int id) const
{
    DWORD r = (DWORD)SendMessageW(Item(id), EM_GETSEL, 0, 0);
    return { (int)LOWORD(r), (int)HIWORD(r) };
}

void CredentialRun::Sync() const
{
    DWORD_PTR res = 0;
    for (int i = 0; i < 3 && IsWindow(m_hDlg); i++)
        SendMessageTimeoutW(m_hDlg, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &res);
}

bool CredentialRun::ClickOkAndWaitForCloseRequest(int idOk)
{
    WritePrivateProfileStringW(L"Printer Information", L"Message", L"0", SmStatusIniPath().c_str());
    Click(idOk);
    bool seen = WaitForIniMessage(L"1028", 5000);
    Sync();
    return seen;
}
