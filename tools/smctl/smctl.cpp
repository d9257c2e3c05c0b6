// smctl: writes the exchange file as the driver does, shows its state, talks to a running
// monitor, and builds and checks watermark job files.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_wm.h"
#include "tools/smctl/smctl_fax.h"
#include "tools/smctl/smctl_status.h"
#include "tools/smctl/smctl_dialog.h"
#include "tools/smctl/smctl_why.h"
#include "tools/smctl/smctl_lint.h"
#include "tools/smctl/smctl_wmproof.h"
#include "tools/smctl/smctl_replay.h"
#include "util/trace.h"
#include <stdio.h>
#include <stdarg.h>
#include <strsafe.h>

// Subcommand table; each group adds its entries here.
static const SMCTL_COMMAND c_Commands[] = {
    { L"wm-make", Smctl_WmMake, SMCTL_WM_MAKE_USAGE },
    { L"wm-show", Smctl_WmShow, SMCTL_WM_SHOW_USAGE },
    { L"wm-sample", Smctl_WmSample, SMCTL_WM_SAMPLE_USAGE },
    { L"fax-make", Smctl_FaxMake, SMCTL_FAX_MAKE_USAGE },
    { L"printer", Smctl_Printer, SMCTL_PRINTER_USAGE },
    { L"announce", Smctl_Announce, SMCTL_ANNOUNCE_USAGE },
    { L"reset", Smctl_Reset, SMCTL_RESET_USAGE },
    { L"jobid", Smctl_JobId, SMCTL_JOBID_USAGE },
    { L"showqel", Smctl_ShowQel, SMCTL_SHOWQEL_USAGE },
    { L"message", Smctl_Message, SMCTL_MESSAGE_USAGE },
    { L"state", Smctl_State, SMCTL_STATE_USAGE },
    { L"exit", Smctl_Exit, SMCTL_EXIT_USAGE },
    { L"stress", Smctl_Stress, SMCTL_STRESS_USAGE },
    { L"dialog", Smctl_Dialog, SMCTL_DIALOG_USAGE },
    { L"why", Smctl_Why, SMCTL_WHY_USAGE },
    { L"lint", Smctl_Lint, SMCTL_LINT_USAGE },
    { L"wm-proof", Smctl_WmProof, SMCTL_WM_PROOF_USAGE },
    { L"replay", Smctl_Replay, SMCTL_REPLAY_USAGE },
    { NULL, NULL, NULL },
};

void Smctl_Error(const wchar_t* format, ...)
{
    WCHAR line[1024];
    va_list args;
    va_start(args, format);
    StringCchVPrintfW(line, ARRAYSIZE(line), format, args);
    va_end(args);
    fwprintf(stderr, L"smctl: %ls\n", line);
}

static void Usage(void)
{
    fwprintf(stderr, L"usage: smctl <command> [arguments]\n");
    for (const SMCTL_COMMAND* c = c_Commands; c->name; c++)
        fwprintf(stderr, L"  %ls %ls\n", c->name, c->usage);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    for (const SMCTL_COMMAND* c = c_Commands; c->name; c++) {
        if (wcscmp(argv[1], c->name) == 0)
            return c->handler(argc - 2, argv + 2);
    }
    Smctl_Error(L"unknown command %ls", argv[1]);
    Usage();
    return 2;
}
