// smctl why: what the monitor does with the exchange file as it stands, and why.
#pragma once

int Smctl_Why(int argc, wchar_t** argv);

#define SMCTL_WHY_USAGE L"[--json]               explains what a poll of the exchange file would do: the list kept, each code's text, slot and marker"
