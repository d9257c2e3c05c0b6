// smctl why: what the monitor does with the exchange file as it stands, and why.
#pragma once

int Smctl_Why(int argc, wchar_t** argv);

