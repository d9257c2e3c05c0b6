// smctl: the driver-side control tool. Each group of subcommands lives in its own file and
// registers in the table of smctl.cpp.
#pragma once
#include <windows.h>

// A subcommand gets the arguments after its own name; it returns the process exit code.
typedef int (*SMCTL_HANDLER)(int argc, wchar_t** argv);

struct SMCTL_COMMAND {
    const wchar_t* name;
    SMCTL_HANDLER handler;
    const wchar_t* usage;
};

void Smctl_Error(const wchar_t* format, ...);     // "smctl: ..." on standard error
