// Status dialog (interim: records the list it was given until the dialog is built).
#include "status/status.h"
#include "app/app.h"

HWND g_hStatusDlg;

int SM_ShowPrinterStatus(HWND hWndOwner, const LONG* pErrCodes, int count)
{
    (void)hWndOwner;
    (void)count;
    CopyMemory(g_ShownErrCodes, pErrCodes, sizeof(g_ShownErrCodes));
    return 1;
}
