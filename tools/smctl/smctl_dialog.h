// smctl dialog: looks at the running monitor's status dialog from outside, as a user sees it.
#pragma once

int Smctl_Dialog(int argc, wchar_t** argv);

