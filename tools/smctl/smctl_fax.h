// smctl fax cover pages: the str.ini and cover.ini that a fax job's cover page is drawn from.
#pragma once
#include <windows.h>
#include "bitmap/bitmap.h"

#define SMCTL_FAX_MAX_KEYS   24
#define SMCTL_FAX_MAX_LINES  64

struct SMCTL_FAX_KEY {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
};

// What fax-make writes: the keys of str.ini in order, and the message lines of cover.ini.
struct SMCTL_FAX_SETUP {
    SMCTL_FAX_KEY keys[SMCTL_FAX_MAX_KEYS];
    int cKeys;
    const wchar_t* lines[SMCTL_FAX_MAX_LINES];
    int cLines;
    bool openLastLine;      // the last message line without its CR LF
    bool noMessage;         // cover.ini removed: the program creates it empty
};

// Starts a set-up: cover page mode 1 on A4; the record gets the fax flag and an A4 fax page.
void SmctlFax_Default(SMCTL_FAX_SETUP* pSetup, WmBitmapParam* pParam);
// Applies one fax option at argv[*pi]: 1 recognised (and *pi advanced), 0 not, -1 bad value.
int  SmctlFax_ApplyOption(SMCTL_FAX_SETUP* pSetup, WmBitmapParam* pParam, int argc, wchar_t** argv, int* pi);
// Writes str.ini (UTF-16, made afresh) and cover.ini in the shared documents folder; 1 on success.
int  SmctlFax_WriteFiles(const SMCTL_FAX_SETUP* pSetup);

int  Smctl_FaxMake(int argc, wchar_t** argv);

#define SMCTL_FAX_VALUE_OPTIONS L" --cover --paper --orientation --xres --yres --name --company --department" \
    L" --tel --faxnum --caption --line"
#define SMCTL_FAX_MAKE_DETAILS \
    L"  --cover 0|1|2            cover page mode (1)\n" \
    L"  --paper A4|A3|B4|CODE    fax paper (A4)\n" \
    L"  --orientation, --xres, --yres N\n" \
    L"  --name, --company, --department, --tel, --faxnum TEXT   the sender\n" \
    L"  --caption KEY=TEXT       KEY one of FAX, FROM, COM, DEP, TEL, MESG\n" \
    L"  --line TEXT              a message line (repeatable); --open-last-line, --no-message\n" \
    L"str.ini and cover.ini are written in the shared documents folder; the job file where given."
