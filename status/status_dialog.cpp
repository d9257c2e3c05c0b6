#include "status/status.h"

HWND g_hStatusDlg;
