// smctl lint: checks a message file (smen.ini) against the catalogue and the status dialog.
#pragma once

int Smctl_Lint(int argc, wchar_t** argv);

#define SMCTL_LINT_USAGE L"[smen.ini]             checks a message file: missing texts, texts that do not fit their slot, the code page; exit 0 clean, 1 warnings, 2 errors"
