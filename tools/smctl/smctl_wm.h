// smctl watermark jobs: what other subcommand groups (the fax cover page options) build on.
#pragma once
#include "bitmap/bitmap.h"

// A record with the defaults of a driver's A4 job: "CONFIDENTIAL", Arial 72 pt, 45 degrees,
// centred, density 60, 600 dpi A4 page, default table.
void SmctlWm_DefaultParam(WmBitmapParam* pParam);
// Applies one option at argv[*pi] (and its value) to the record; returns 1 when it was
// recognised (and advances *pi past it), 0 when not, -1 for a bad value.
int  SmctlWm_ApplyOption(WmBitmapParam* pParam, int argc, wchar_t** argv, int* pi);
// Writes the record as the job INI's "Job Information" / "Param" value; 1 on success.
int  SmctlWm_WriteJob(LPCWSTR pszIniPath, const WmBitmapParam* pParam);
// Reads the job INI's record; 1 on success, else 0 after saying on stderr what is missing.
int  SmctlWm_ReadJob(LPCWSTR pszIniPath, WmBitmapParam* pParam);
// Prints the record's fields and the verdict of the job's validation; returns the rule
// number that fails (0 when the record passes).
int  SmctlWm_PrintParam(const WmBitmapParam* pParam);

int  Smctl_WmMake(int argc, wchar_t** argv);
int  Smctl_WmShow(int argc, wchar_t** argv);
int  Smctl_WmSample(int argc, wchar_t** argv);

#define SMCTL_WM_MAKE_SYNOPSIS L"<job.ini> [options] --out FILE.bmp"
#define SMCTL_WM_VALUE_OPTIONS L" --text --face --size --style --angle --density --placement --page --dstscale" \
    L" --textscale --pagedensity --maxpagedensity --table --drivertype --out "
#define SMCTL_WM_MAKE_DETAILS \
    L"  --text T                 the watermark text (CONFIDENTIAL)\n" \
    L"  --face F                 font face (Arial)\n" \
    L"  --size PT                font size, 0 to 65535 (72)\n" \
    L"  --style S                regular, bold, italic, bolditalic or 0 to 65535\n" \
    L"  --angle DEG              0 to 65535 (45)\n" \
    L"  --density PCT            0 to 65535 (60)\n" \
    L"  --placement P            centred, tiled or 0 to 65535\n" \
    L"  --page SIZE              A4, A3, A5, Letter, Legal or WIDTHxHEIGHT in pixels at 600 dpi\n" \
    L"  --dstscale, --textscale, --pagedensity, --maxpagedensity N   signed 32-bit record fields\n" \
    L"  --table TYPE, --drivertype N   unsigned 32-bit record fields; --fax sets the fax bit\n" \
    L"  --out FILE.bmp           the bitmap the program writes (stored as a full path)\n" \
    L"Values outside the job's rules are stored as given (a refused record can be made on purpose)."
