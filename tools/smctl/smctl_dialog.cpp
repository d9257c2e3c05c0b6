// smctl dialog: finds the monitor's status dialog by its title, prints its captions, message
// lines and buttons, saves a 24-bit picture of the whole window, and presses its buttons, all
// through window messages, as another program on the desktop can.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_dialog.h"
#include "tools/smctl/smctl_ui.h"
#include "status/status.h"
#include "app/app.h"

static void PrintDialog(HWND hDlg)
{
    WCHAR text[512];
    GetWindowTextW(hDlg, text, ARRAYSIZE(text));
    Smctl_Print(L"title: %s\n", text);
    SmctlUi_ControlText(hDlg, IDC_SM_GROUP, text, ARRAYSIZE(text));
    Smctl_Print(L"group: %s\n", text);
    for (int i = 0; i < IDC_SM_MSG_SLOTS; i++) {
        SmctlUi_ControlText(hDlg, IDC_SM_MSG_FIRST + i, text, ARRAYSIZE(text));
        if (text[0])
            Smctl_Print(L"%s %d: %s\n", i < IDC_SM_MSG_SLOTS / 2 ? L"left " : L"right", IDC_SM_MSG_FIRST + i, text);
    }
    const int buttons[] = { IDC_SM_CONTINUE, IDC_SM_DELETE };
    for (int id : buttons) {
        SmctlUi_ControlText(hDlg, id, text, ARRAYSIZE(text));
        Smctl_Print(L"button %d: %s (%s)\n", id, text,
                IsWindowVisible(GetDlgItem(hDlg, id)) ? L"shown" : L"hidden");
    }
    Smctl_Print(L"topmost: %s\n", (GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST) ? L"yes" : L"no");
}

int Smctl_Dialog(int argc, wchar_t** argv)
{
    long long msWait = 0;
    std::wstring shot;
    int pressId = 0;
    for (int i = 0; i + 1 < argc; i += 2) {
        const wchar_t* value = argv[i + 1];
        if (wcscmp(argv[i], L"--wait") == 0) {
            if (!Smctl_Number(L"dialog", L"--wait", value, 0, SMCTL_MS_MAX_WAIT, &msWait))
                return SMCTL_EXIT_USAGE;
        } else if (wcscmp(argv[i], L"--shot") == 0) {
            shot = Smctl_FullPath(value);
        } else if (_wcsicmp(value, L"delete") == 0) {
            pressId = IDC_SM_DELETE;
        } else if (_wcsicmp(value, L"continue") == 0) {
            pressId = IDC_SM_CONTINUE;
        } else {
            return Smctl_Usage(L"dialog", L"--press takes delete or continue");
        }
    }
    if (argc % 2)
        return Smctl_Usage(L"dialog", L"no arguments besides the options");

    HWND hDlg = SmctlUi_WaitForDialog((DWORD)msWait);
    if (!hDlg) {
        Smctl_Error(L"no status dialog is shown; announce a fault list first, or wait with --wait MS");
        return SMCTL_EXIT_FAILED;
    }
    // Let a fresh update finish painting before it is read or pictured.
    Sleep(msWait ? 300 : 0);
    PrintDialog(hDlg);
    if (!shot.empty() && !SmctlUi_SaveShot(hDlg, shot.c_str())) {
        Smctl_Error(L"cannot save a picture of the dialog to %s; check the folder", shot.c_str());
        return SMCTL_EXIT_FAILED;
    }
    if (pressId) {
        HWND hButton = GetDlgItem(hDlg, pressId);
        if (!IsWindowVisible(hButton)) {
            Smctl_Error(L"the button %d is not shown; \"smctl dialog\" lists the buttons shown", pressId);
            return SMCTL_EXIT_FAILED;
        }
        SendMessageW(hButton, BM_CLICK, 0, 0);
        Smctl_Print(L"pressed %d\n", pressId);
    }
    return SMCTL_EXIT_DONE;
}
