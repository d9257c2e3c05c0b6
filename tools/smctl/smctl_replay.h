// smctl replay: a scripted fault scenario played against the running monitor.
#pragma once

int Smctl_Replay(int argc, wchar_t** argv);

#define SMCTL_REPLAY_DETAILS \
    L"Steps, one a line (# comments; UTF-8 or UTF-16):\n" \
    L"  printer NAME | jobid N | showqel 0|1 | message N | announce STATUS | reset\n" \
    L"  press delete|continue | shot FILE.bmp | wait MS | timeout MS   (MS: 0 to 600000)\n" \
    L"  expect dialog shown|none | expect line CONTROL [TEXT]\n" \
    L"  expect button delete|continue shown|hidden\n" \
    L"  expect spooler 0xXXXXXXXX | expect job ID present|absent | expect monitor running|ended [CLASS]\n" \
    L"After announce, reset, message and press the next step waits until the monitor has polled the\n" \
    L"file and acted; expectations are retried until they hold or the timeout (5000 ms) passes.\n" \
    L"--class CLASS: the monitor's window class (default: the program's file name, StatusMonitor).\n" \
    L"Exit code 0: every step held, 1: a step failed, 2: a bad or empty scenario, or no monitor runs."
