// smctl dialog: looks at the running monitor's status dialog from outside, as a user sees it.
#pragma once

int Smctl_Dialog(int argc, wchar_t** argv);

#define SMCTL_DIALOG_USAGE   L"[--wait ms] [--shot file.bmp] [--press delete|continue]  prints the status dialog's texts; saves a picture of it; presses a button (exit code 1: no dialog)"
