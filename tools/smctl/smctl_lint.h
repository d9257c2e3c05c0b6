// smctl lint: checks a message file (smen.ini) against the catalogue and the status dialog.
#pragma once

int Smctl_Lint(int argc, wchar_t** argv);

#define SMCTL_LINT_DETAILS \
    L"Without a file: the program's own smen.ini in the Windows folder. Needs a display (the texts are\n" \
    L"measured in a hidden copy of the status dialog). Errors: not a catalogue, an encoding other than\n" \
    L"UTF-16 with byte-order mark (non-ASCII text), duplicate keys or sections, an unknown code page,\n" \
    L"a text, caption or button text that does not fit, a text that does not convert to the code page.\n" \
    L"Warnings: missing keys, keys and sections the program does not read.\n" \
    L"Exit code 0: no errors (warnings allowed), 1: errors, 2: the file cannot be read."
