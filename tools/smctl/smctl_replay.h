// smctl replay: a scripted fault scenario played against the running monitor.
#pragma once

int Smctl_Replay(int argc, wchar_t** argv);

#define SMCTL_REPLAY_USAGE L"<scenario.txt>         plays a scenario, one step a line; prints each step with ok or FAIL (exit code 1: an expectation failed, 2: a bad scenario)"
