// Where the driver leaves the fax files: the shared documents folder.
#include "fax/fax.h"
#include "util/misc.h"
#include "util/trace.h"
#include <strsafe.h>

static const struct {
    int kind;
    LPCWSTR name;
} c_FaxFiles[] = {
    { FAX_PATH_STR_INI,   L"\\str.ini" },
    { FAX_PATH_COVER_INI, L"\\cover.ini" },
};

int FAX_GetPathName(LPWSTR pszPath, size_t cchPath, int nKind)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"FAX_GetPathName");
    if (!pszPath || cchPath == 0) {
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        return 0;
    }
    int rc = MISC_GetSharedDocuments(pszPath, cchPath) ? 1 : 0;
    if (!rc)
        TRACE_Print(TRACE_LEVEL_ERROR, L"get Common Documents fail!");
    for (size_t i = 0; i < ARRAYSIZE(c_FaxFiles); i++) {
        if (c_FaxFiles[i].kind == nKind) {
            if (FAILED(StringCchCatExW(pszPath, cchPath, c_FaxFiles[i].name, NULL, NULL, STRSAFE_NO_TRUNCATION)))
                TRACE_Print(TRACE_LEVEL_ERROR, L"path too long!");
            break;
        }
    }
    TRACE_Print(TRACE_LEVEL_INFO, L"path = %s", pszPath);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return rc;
}
