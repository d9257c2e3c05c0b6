// Exits with the OS code the program computes, so that a test can run it under each
// Windows version Wine can report.
#include "util/misc.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return MISC_GetOSVersion();
}
