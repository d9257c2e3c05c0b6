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
// Prints the record's fields and the verdict of the job's validation; returns the rule
// number that fails (0 when the record passes).
int  SmctlWm_PrintParam(const WmBitmapParam* pParam);

int  Smctl_WmMake(int argc, wchar_t** argv);
int  Smctl_WmShow(int argc, wchar_t** argv);
int  Smctl_WmSample(int argc, wchar_t** argv);

#define SMCTL_WM_MAKE_USAGE L"<job.ini> [--text T] [--face F] [--size PT] [--style N|bold|italic|bolditalic] " \
    L"[--angle DEG] [--density PCT] [--placement centred|tiled|N] [--page A4|A3|Letter|WxH] " \
    L"[--dstscale N] [--textscale HUNDREDTHS] [--pagedensity N] [--maxpagedensity N] " \
    L"[--table TYPE] [--fax] [--drivertype N] --out FILE.bmp"
#define SMCTL_WM_SHOW_USAGE L"<job.ini>"
#define SMCTL_WM_SAMPLE_USAGE L"<file.bmp> <bits per pixel: 1|4|8|16|24> <width> <height>"
