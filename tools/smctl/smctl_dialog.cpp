// smctl dialog: finds the monitor's status dialog by its title, prints its captions, message
// lines and buttons, saves a 24-bit picture of the whole window, and presses its buttons, all
// through window messages, as another program on the desktop can.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_dialog.h"
#include "tools/smctl/smctl_ui.h"
#include "status/status.h"
#include "app/app.h"
#include <stdio.h>
#include <stdlib.h>
#include <vector>

static void PrintDialog(HWND hDlg)
{
    WCHAR text[512];
    GetWindowTextW(hDlg, text, ARRAYSIZE(text));
    wprintf(L"title: %ls\n", text);
    SmctlUi_ControlText(hDlg, IDC_SM_GROUP, text, ARRAYSIZE(text));
    wprintf(L"group: %ls\n", text);
    for (int i = 0; i < IDC_SM_MSG_SLOTS; i++) {
        SmctlUi_ControlText(hDlg, IDC_SM_MSG_FIRST + i, text, ARRAYSIZE(text));
        if (text[0])
            wprintf(L"%ls %d: %ls\n", i < IDC_SM_MSG_SLOTS / 2 ? L"left " : L"right", IDC_SM_MSG_FIRST + i, text);
    }
    const int buttons[] = { IDC_SM_CONTINUE, IDC_SM_DELETE };
    for (int id : buttons) {
        SmctlUi_ControlText(hDlg, id, text, ARRAYSIZE(text));
        wprintf(L"button %d: %ls (%ls)\n", id, text,
                IsWindowVisible(GetDlgItem(hDlg, id)) ? L"shown" : L"hidden");
    }
    wprintf(L"topmost: %ls\n", (GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST) ? L"yes" : L"no");
}

int Smctl_Dialog(int argc, wchar_t** argv)
{
    DWORD msWait = 0;
    const wchar_t* pszShot = NULL;
    int pressId = 0;
    bool bad = false;
    for (int i = 0; i < argc && !bad; i++) {
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (!value) {
            bad = true;
        } else if (wcscmp(argv[i], L"--wait") == 0) {
            msWait = wcstoul(value, NULL, 10);
        } else if (wcscmp(argv[i], L"--shot") == 0) {
            pszShot = value;
        } else if (wcscmp(argv[i], L"--press") == 0 && _wcsicmp(value, L"delete") == 0) {
            pressId = IDC_SM_DELETE;
        } else if (wcscmp(argv[i], L"--press") == 0 && _wcsicmp(value, L"continue") == 0) {
            pressId = IDC_SM_CONTINUE;
        } else {
            bad = true;
        }
        i++;
    }
    if (bad) {
        Smctl_Error(L"usage: dialog %ls", SMCTL_DIALOG_USAGE);
        return 2;
    }

    HWND hDlg = SmctlUi_WaitForDialog(msWait);
    if (!hDlg) {
        wprintf(L"no status dialog\n");
        return 1;
    }
    // Let a fresh update finish painting before it is read or pictured.
    Sleep(msWait ? 300 : 0);
    PrintDialog(hDlg);
    if (pszShot && !SmctlUi_SaveShot(hDlg, pszShot)) {
        Smctl_Error(L"cannot save a picture of the dialog to %ls", pszShot);
        return 1;
    }
    if (pressId) {
        HWND hButton = GetDlgItem(hDlg, pressId);
        if (!IsWindowVisible(hButton)) {
            Smctl_Error(L"the button %d is not shown", pressId);
            return 1;
        }
        SendMessageW(hButton, BM_CLICK, 0, 0);
        wprintf(L"pressed %d\n", pressId);
    }
    return 0;
}
