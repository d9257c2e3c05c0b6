// Fuzz targets of the monitor's inputs: the fault list ("Status") and the catalogue texts of smen.ini.
#include "fuzz.h"
#include "app/app.h"
#include "status/status.h"
#include "util/misc.h"
#include <string.h>

namespace {

// Fault list ------------------------------------------------------------------------------------

const size_t c_MaxStatusLen = 4000;
const size_t c_MaxStoreCch = 300;

std::vector<BYTE> g_FaultsInput;
std::wstring g_FaultsIni;
GuardBuffer* g_pStatusBuf;
GuardBuffer* g_pCodesBuf;
GuardBuffer* g_pStoreBuf;

const std::vector<std::wstring>& FaultTokens()
{
    static const std::vector<std::wstring> tokens = {
        L"|", L"||", L"StoreName|", L"StoreName", L"storename|", L"112|", L"117|", L"118|", L"33|",
        L"5|", L"-", L"+", L" ", L"2147483647|", L"-2147483648|", L"4294967296|", L"99999999999999999999|",
        L"0x10|", L"277|", L"\t", L"Report 12|",
    };
    return tokens;
}

const wchar_t* const c_FaultSeeds[] = {
    L"33|5|", L"5|7", L"112|5|", L"abc|", L"||", L"StoreName|Report 12|277|33|", L"StoreName|x|",
    L"StoreName|", L"117|5|", L"118|", L"80|33|", L" -5|+7|", L"",
};

void FaultsInit(const std::wstring& workDir)
{
    g_pStatusBuf = new GuardBuffer((c_MaxStatusLen + 1) * sizeof(WCHAR));
    g_pCodesBuf = new GuardBuffer(SM_MAX_ERRCODES * sizeof(LONG));
    g_pStoreBuf = new GuardBuffer(c_MaxStoreCch * sizeof(WCHAR));
    g_FaultsIni = workDir + L"StatusMonitorV3.ini";
}

// What every parse must leave: at most 48 codes, no 112 among them, zeros after the last, and a
// store name that is terminated inside its buffer and holds no bar.
void CheckParse(uint64_t index, const LONG* codes, DWORD count, const WCHAR* store, size_t cchStore)
{
    if (count > SM_MAX_ERRCODES)
        FuzzFail("faults", index, "count " + std::to_string(count) + " above 48");
    for (DWORD i = 0; i < count && i < SM_MAX_ERRCODES; i++) {
        if (codes[i] == SM_CODE_BUSY)
            FuzzFail("faults", index, "code 112 stored");
    }
    for (DWORD i = count; i < SM_MAX_ERRCODES; i++) {
        if (codes[i] != 0)
            FuzzFail("faults", index, "slot " + std::to_string(i) + " after the last code is not zero");
    }
    if (store && cchStore) {
        size_t n = 0;
        while (n < cchStore && store[n])
            n++;
        if (n == cchStore)
            FuzzFail("faults", index, "store name not terminated in its buffer");
        else if (wmemchr(store, L'|', n))
            FuzzFail("faults", index, "store name holds a bar");
    }
}

void FaultsRun(FuzzRng& rng, uint64_t index)
{
    std::wstring status;
    if (rng.OneIn(2)) {
        status = c_FaultSeeds[rng.Below(ARRAYSIZE(c_FaultSeeds))];
        FuzzMutate(rng, &status, c_MaxStatusLen, FaultTokens());
    } else {
        status = FuzzText(rng, c_MaxStatusLen, FaultTokens());
    }
    FuzzKeep(&g_FaultsInput, status.data(), status.size() * sizeof(wchar_t));

    LONG* codes = g_pCodesBuf->Place<LONG>(SM_MAX_ERRCODES);
    memset(codes, 0, SM_MAX_ERRCODES * sizeof(LONG));
    // The store-name buffer: sometimes none, else any size up to 300 units, ending at the guard.
    size_t cchStore = rng.OneIn(8) ? 0 : 1 + rng.Below(c_MaxStoreCch);
    WCHAR* store = cchStore ? g_pStoreBuf->Place<WCHAR>(cchStore) : NULL;
    if (store) {
        wmemset(store, L'#', cchStore - 1);
        store[cchStore - 1] = 0;
    }

    const WCHAR* pStatus = g_pStatusBuf->PlaceString(status);
    DWORD count = SM_ParseErrCodes(pStatus, codes, store, cchStore);
    CheckParse(index, codes, count, store, cchStore);

    // One in eight inputs also goes the monitor's way: read from the exchange file (259
    // characters at most) into g_StoreName.
    if (rng.OneIn(8)) {
        wcscpy_s(g_StatusIniPath, g_FaultsIni.c_str());
        FuzzWriteIni(g_FaultsIni, SM_SECTION_PRINTER, { { L"Status", status } });
        memset(codes, 0, SM_MAX_ERRCODES * sizeof(LONG));
        DWORD fileCount = 0xFFFFFFFF;
        GetErrCode(codes, &fileCount);
        CheckParse(index, codes, fileCount, g_StoreName, ARRAYSIZE(g_StoreName));
    }
}

std::vector<BYTE>* FaultsInput() { return &g_FaultsInput; }

// Catalogue texts --------------------------------------------------------------------------------

const size_t c_MaxCatalogueText = 3000;
const size_t c_MaxMessageCch = 600;

std::vector<BYTE> g_CatalogueInput;
std::wstring g_CatalogueIni;
GuardBuffer* g_pMessageBuf;

void CatalogueInit(const std::wstring& workDir)
{
    g_pMessageBuf = new GuardBuffer(c_MaxMessageCch * sizeof(WCHAR));
    g_CatalogueIni = workDir + L"smen.ini";
    wcscpy_s(g_MsgIniPath, g_CatalogueIni.c_str());
}

// A text the profile functions give back unchanged: no quotes, blanks at the ends or line breaks.
std::wstring PlainText(FuzzRng& rng, size_t maxLen)
{
    size_t n = rng.Length(maxLen);
    std::wstring s;
    for (size_t i = 0; i < n; i++)
        s += (wchar_t)(L'a' + rng.Below(26));
    return s;
}

void CatalogueRun(FuzzRng& rng, uint64_t index)
{
    // One fault's text, either plain (then its expected form is known) or hostile.
    const SM_CATALOGUE_ENTRY& entry = g_Catalogue[rng.Below(SM_CATALOGUE_ENTRIES)];
    bool plain = rng.OneIn(2);
    std::wstring text = plain ? PlainText(rng, c_MaxCatalogueText) : FuzzText(rng, c_MaxCatalogueText, {});
    std::wstring store = FuzzText(rng, SM_CCH_STORE_NAME - 1, { L"|", L"%s" });
    FuzzKeep(&g_CatalogueInput, text.data(), text.size() * sizeof(wchar_t));
    if (!FuzzWriteIni(g_CatalogueIni, L"string", { { entry.pszKey, text }, { L"codepage", L"0" } })) {
        FuzzFail("catalogue", index, "smen.ini cannot be written");
        return;
    }
    wcsncpy_s(g_StoreName, ARRAYSIZE(g_StoreName), store.c_str(), _TRUNCATE);

    // The caller's buffer, of any size (none at all too), ends at the guard page.
    size_t cchBuf = rng.OneIn(16) ? 0 : 1 + rng.Below(c_MaxMessageCch);
    WCHAR* pBuf = g_pMessageBuf->Place<WCHAR>(cchBuf);
    DWORD code = rng.OneIn(8) ? (DWORD)rng.Next() : entry.dwErrCode;
    SM_GetStatusMessage(code, pBuf, (DWORD)cchBuf);
    if (cchBuf == 0)
        return;
    size_t n = 0;
    while (n < cchBuf && pBuf[n])
        n++;
    if (n == cchBuf) {
        FuzzFail("catalogue", index, "message not terminated in the caller's buffer");
        return;
    }
    if (plain && code == entry.dwErrCode && code != SM_CODE_STORE_NAME_CHANGED) {
        // The text read into 128 units, then cut to the caller's buffer.
        size_t keep = text.size();
        if (keep > SM_CCH_MESSAGE - 1)
            keep = SM_CCH_MESSAGE - 1;
        if (keep > cchBuf - 1)
            keep = cchBuf - 1;
        std::wstring got(pBuf, n);
        if (got != text.substr(0, keep))
            FuzzFail("catalogue", index, "code " + std::to_string(code) + ": got \"" + FuzzNarrow(got) +
                     "\", expected the first " + std::to_string(keep) + " units of the text");
    }
}

std::vector<BYTE>* CatalogueInput() { return &g_CatalogueInput; }

} // namespace

const FuzzTarget g_FuzzFaults = {
    "faults", "the fault list: \"Status\" values of any length, in memory and through the exchange file",
    FaultsInit, FaultsRun, FaultsInput,
};

const FuzzTarget g_FuzzCatalogue = {
    "catalogue", "catalogue texts of any length from smen.ini, store names, callers' buffers of any size",
    CatalogueInit, CatalogueRun, CatalogueInput,
};
