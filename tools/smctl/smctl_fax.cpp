// smctl fax-make: a watermark job with the fax flag, together with the str.ini and cover.ini
// in the shared documents folder that the cover page is drawn from.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_fax.h"
#include "tools/smctl/smctl_wm.h"
#include "fax/fax.h"
#include "util/misc.h"
#include <limits.h>
#include <stdio.h>
#include <strsafe.h>

// Fax pages: the standard scan-line widths at 204 dpi, the paper's length at 196 dpi.
static const struct {
    const wchar_t* name;
    const wchar_t* code;     // the "PaperSize" value
    int cx, cy;
} c_FaxPapers[] = {
    { L"A4", L"9",  1728, 2292 },
    { L"A3", L"8",  2432, 3241 },
    { L"B4", L"12", 2048, 2809 },
};

// Options that set one key of str.ini.
static const struct {
    const wchar_t* option;
    const wchar_t* section;
    const wchar_t* key;
    long long maximum;       // a number from 0 to this; 0: text
} c_KeyOptions[] = {
    { L"--cover",       FAX_SECTION_SETTINGS, L"enableCoverPage", 2 },
    { L"--orientation", FAX_SECTION_SETTINGS, L"Orientation", INT_MAX },
    { L"--xres",        FAX_SECTION_SETTINGS, L"Xres", INT_MAX },
    { L"--yres",        FAX_SECTION_SETTINGS, L"Yres", INT_MAX },
    { L"--name",        FAX_SECTION_SENDER,   L"Name" },
    { L"--company",     FAX_SECTION_SENDER,   L"Com" },
    { L"--department",  FAX_SECTION_SENDER,   L"Dep" },
    { L"--tel",         FAX_SECTION_SENDER,   L"Tel" },
    { L"--faxnum",      FAX_SECTION_SENDER,   L"FaxNum" },
};

static const wchar_t* const c_CaptionKeys[] = { L"FAX", L"FROM", L"COM", L"DEP", L"TEL", L"MESG" };

// Sets a key, replacing an earlier value of the same key.
static int SetKey(SMCTL_FAX_SETUP* s, const wchar_t* section, const wchar_t* key, const wchar_t* value)
{
    for (int i = 0; i < s->cKeys; i++) {
        if (wcscmp(s->keys[i].section, section) == 0 && _wcsicmp(s->keys[i].key, key) == 0) {
            s->keys[i].value = value;
            return 1;
        }
    }
    if (s->cKeys >= SMCTL_FAX_MAX_KEYS) {
        Smctl_Error(L"too many str.ini keys; give fewer options");
        return -1;
    }
    s->keys[s->cKeys].section = section;
    s->keys[s->cKeys].key = key;
    s->keys[s->cKeys].value = value;
    s->cKeys++;
    return 1;
}

static void SetPaperPage(WmBitmapParam* p, int index)
{
    p->nWidth = c_FaxPapers[index].cx;
    p->nHeight = c_FaxPapers[index].cy;
}

void SmctlFax_Default(SMCTL_FAX_SETUP* s, WmBitmapParam* p)
{
    ZeroMemory(s, sizeof(*s));
    SetKey(s, FAX_SECTION_SETTINGS, L"enableCoverPage", L"1");
    SetKey(s, FAX_SECTION_SETTINGS, L"PaperSize", c_FaxPapers[0].code);
    p->DriverType |= WM_DRIVER_FAX;
    p->tyWM.wDensity = 100;
    SetPaperPage(p, 0);
}

int SmctlFax_ApplyOption(SMCTL_FAX_SETUP* s, WmBitmapParam* p, int argc, wchar_t** argv, int* pi)
{
    const wchar_t* opt = argv[*pi];
    if (wcscmp(opt, L"--open-last-line") == 0) {
        s->openLastLine = true;
        *pi += 1;
        return 1;
    }
    if (wcscmp(opt, L"--no-message") == 0) {
        s->noMessage = true;
        *pi += 1;
        return 1;
    }
    bool withValue = wcscmp(opt, L"--paper") == 0 || wcscmp(opt, L"--caption") == 0 || wcscmp(opt, L"--line") == 0;
    for (size_t i = 0; i < ARRAYSIZE(c_KeyOptions); i++)
        withValue = withValue || wcscmp(opt, c_KeyOptions[i].option) == 0;
    if (!withValue)
        return 0;
    if (*pi + 1 >= argc) {
        Smctl_Usage(L"fax-make", (std::wstring(opt) + L" needs a value").c_str());
        return -1;
    }
    const wchar_t* val = argv[*pi + 1];
    *pi += 2;

    if (wcscmp(opt, L"--paper") == 0) {
        for (size_t i = 0; i < ARRAYSIZE(c_FaxPapers); i++) {
            if (_wcsicmp(val, c_FaxPapers[i].name) == 0 || wcscmp(val, c_FaxPapers[i].code) == 0) {
                SetPaperPage(p, (int)i);
                return SetKey(s, FAX_SECTION_SETTINGS, L"PaperSize", c_FaxPapers[i].code);
            }
        }
        // Any other code is written as given: the cover page then stays white.
        long long code = 0;
        if (!Smctl_ParseNumber(val, 0, INT_MAX, &code)) {
            Smctl_Usage(L"fax-make", L"--paper takes A4, A3, B4 or a paper code from 0 to 2147483647");
            return -1;
        }
        return SetKey(s, FAX_SECTION_SETTINGS, L"PaperSize", val);
    }
    if (wcscmp(opt, L"--line") == 0) {
        if (s->cLines >= SMCTL_FAX_MAX_LINES) {
            Smctl_Error(L"more than %d message lines; give fewer --line options", SMCTL_FAX_MAX_LINES);
            return -1;
        }
        s->lines[s->cLines++] = val;
        return 1;
    }
    if (wcscmp(opt, L"--caption") == 0) {
        const wchar_t* eq = wcschr(val, L'=');
        for (size_t i = 0; eq && i < ARRAYSIZE(c_CaptionKeys); i++) {
            size_t cch = wcslen(c_CaptionKeys[i]);
            if ((size_t)(eq - val) == cch && _wcsnicmp(val, c_CaptionKeys[i], cch) == 0)
                return SetKey(s, FAX_SECTION_TEXTS, c_CaptionKeys[i], eq + 1);
        }
        Smctl_Usage(L"fax-make", L"--caption takes KEY=TEXT with KEY one of FAX, FROM, COM, DEP, TEL, MESG");
        return -1;
    }
    for (size_t i = 0; i < ARRAYSIZE(c_KeyOptions); i++) {
        if (wcscmp(opt, c_KeyOptions[i].option) != 0)
            continue;
        long long v = 0;
        if (c_KeyOptions[i].maximum && !Smctl_ParseNumber(val, 0, c_KeyOptions[i].maximum, &v)) {
            WCHAR sz[96];
            StringCchPrintfW(sz, ARRAYSIZE(sz), L"%s takes a whole number from 0 to %I64d", opt,
                             c_KeyOptions[i].maximum);
            Smctl_Usage(L"fax-make", sz);
            return -1;
        }
        return SetKey(s, c_KeyOptions[i].section, c_KeyOptions[i].key, val);
    }
    return 0;
}

static int WriteCoverIni(LPCWSTR pszPath, const SMCTL_FAX_SETUP* s)
{
    if (s->noMessage) {
        if (!DeleteFileW(pszPath) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            Smctl_Error(L"cannot remove %s; check that no program holds it", pszPath);
            return 0;
        }
        return 1;
    }
    FILE* fp = _wfopen(pszPath, L"wb");
    if (!fp) {
        Smctl_Error(L"cannot write %s; check the shared documents folder", pszPath);
        return 0;
    }
    static const BYTE c_Mark[2] = { 0xFF, 0xFE };
    static const WCHAR c_CrLf[2] = { L'\r', L'\n' };
    bool ok = fwrite(c_Mark, 1, sizeof(c_Mark), fp) == sizeof(c_Mark);
    for (int i = 0; i < s->cLines && ok; i++) {
        size_t cch = wcslen(s->lines[i]);
        ok = fwrite(s->lines[i], sizeof(WCHAR), cch, fp) == cch;
        if (ok && !(s->openLastLine && i == s->cLines - 1))
            ok = fwrite(c_CrLf, sizeof(WCHAR), ARRAYSIZE(c_CrLf), fp) == ARRAYSIZE(c_CrLf);
    }
    if (fclose(fp) != 0)
        ok = false;
    if (!ok)
        Smctl_Error(L"cannot write %s; check the shared documents folder", pszPath);
    return ok ? 1 : 0;
}

int SmctlFax_WriteFiles(const SMCTL_FAX_SETUP* s)
{
    WCHAR szStrIni[SM_CCH_PATH] = L"";
    WCHAR szCoverIni[SM_CCH_PATH] = L"";
    if (!FAX_GetPathName(szStrIni, ARRAYSIZE(szStrIni), FAX_PATH_STR_INI)
        || !FAX_GetPathName(szCoverIni, ARRAYSIZE(szCoverIni), FAX_PATH_COVER_INI)) {
        Smctl_Error(L"the shared documents folder is not known; check the \"Common Documents\" shell folder");
        return 0;
    }
    // A fresh UTF-16 file, so that no key of an earlier cover page lingers.
    DeleteFileW(szStrIni);
    MISC_CreateUniFile(szStrIni);
    for (int i = 0; i < s->cKeys; i++) {
        if (!MISC_WriteProfileString(szStrIni, s->keys[i].section, s->keys[i].key, s->keys[i].value)) {
            Smctl_Error(L"cannot write %s; check the shared documents folder", szStrIni);
            return 0;
        }
    }
    if (!WriteCoverIni(szCoverIni, s))
        return 0;
    Smctl_Print(L"str.ini         = %s\n", szStrIni);
    Smctl_Print(L"cover.ini       = %s%s\n", szCoverIni, s->noMessage ? L" (removed)" : L"");
    return 1;
}

int Smctl_FaxMake(int argc, wchar_t** argv)
{
    if (argc < 1 || argv[0][0] == L'-')
        return Smctl_Usage(L"fax-make", L"a job file is needed");
    WmBitmapParam param;
    SMCTL_FAX_SETUP setup;
    SmctlWm_DefaultParam(&param);
    SmctlFax_Default(&setup, &param);
    for (int i = 1; i < argc;) {
        int r = SmctlFax_ApplyOption(&setup, &param, argc, argv, &i);
        if (r == 0)
            r = SmctlWm_ApplyOption(&param, argc, argv, &i);
        if (r == 0)
            return Smctl_Usage(L"fax-make", (L"one job file only, not also " + std::wstring(argv[i])).c_str());
        if (r < 0)
            return SMCTL_EXIT_USAGE;
    }
    if (!param.wmFileName[0])
        return Smctl_Usage(L"fax-make", L"--out FILE.bmp is required");
    if (!SmctlFax_WriteFiles(&setup))
        return SMCTL_EXIT_FAILED;
    std::wstring job = Smctl_FullPath(argv[0]);
    if (!SmctlWm_WriteJob(job.c_str(), &param)) {
        Smctl_Error(L"cannot write %s; check the folder", job.c_str());
        return SMCTL_EXIT_FAILED;
    }
    return SMCTL_EXIT_DONE;
}
