// The catalogue of status messages: a fault code's line of text, localised through "smen.ini".
#include "status/status.h"
#include "app/app.h"
#include "util/trace.h"
#include <strsafe.h>

static const WCHAR c_MsgSection[] = L"string";

// Each known code has its key in section "string" of smen.ini and an English default.
const SM_CATALOGUE_ENTRY g_Catalogue[SM_CATALOGUE_ENTRIES] = {
    { 1, L"msg002", L"Service Call." },
    { 2, L"msg003", L"No Cassette." },
    { 3, L"msg004", L"Companent Fail." },
    { 5, L"msg005", L"Front cover open." },
    { 6, L"msg006", L"No Cartridge." },
    { 7, L"msg007", L"No Toner." },
    { 32, L"msg008", L"Paper Empty." },
    { 33, L"msg009", L"Paper Jam." },
    { 34, L"msg010", L"Paper Size Error." },
    { 35, L"msg011", L"Paper Mismatch." },
    { 80, L"msg018", L"Please make the printed side face down." },
    { 112, L"msg012", L"Printer is busy for other job." },
    { 126, L"msg001", L"Power Off or Cable problem." },
    { 129, L"msg014", L"Pause..." },
    { 130, L"msg013", L"Warm up..." },
    { 133, L"msg015", L"Sleep..." },
    { 134, L"msg016", L"Memory is full." },
    { 135, L"msg017", L"Toner low." },
    { 136, L"msg035", L"Toner empty." },
    { 256, L"msg019", L"MFP error." },
    { 257, L"msg020", L"Duplex modul error." },
    { 258, L"msg021", L"Printer module Error." },
    { 259, L"msg022", L"No fuser." },
    { 260, L"msg023", L"Paper jam." },
    { 261, L"msg024", L"Paper jam." },
    { 262, L"msg025", L"Paper jam." },
    { 263, L"msg026", L"Paper jam ." },
    { 264, L"msg027", L"Paper jam." },
    { 265, L"msg028", L"Rear cover open." },
    { 266, L"msg029", L"Duplex module rear cover open." },
    { 267, L"msg030", L"Manual tray open." },
    { 268, L"msg031", L"Main tray open." },
    { 269, L"msg032", L"Manual tray paper empty." },
    { 270, L"msg033", L"Main tray paper empty." },
    { 271, L"msg034", L"Fuser low." },
    { 272, L"msg036", L"Main unit error." },
    { 273, L"msg037", L"Transfer roller error." },
    { 274, L"msg038", L"Feed roller error." },
    { 275, L"msg039", L"MFP memory full." },
    { 276, L"msg040", L"Store job fail." },
    { 277, L"msg041", L"Store job name change to" },
    { 278, L"msg042", L"Tray 2 Open." },
    { 279, L"msg043", L"Tray 2 paper empty." },
    { 280, L"msg045", L"Please make the printed side face up." },
    { 281, L"msg046", L"Please make the printed side face up." },
    { 282, L"msg047", L"MFP Paper Mismatch." },
    { 283, L"msg048", L"Paper jam." },
    { 65535, L"msg044", L"Unknow error." },
};

void SM_GetStatusMessage(DWORD dwErrCode, LPWSTR pszBuf, DWORD cchBuf)
{
    if (!pszBuf || cchBuf == 0)
        return;
    pszBuf[0] = 0;
    const SM_CATALOGUE_ENTRY* pEntry = NULL;
    for (size_t i = 0; i < ARRAYSIZE(g_Catalogue); i++) {
        if (g_Catalogue[i].dwErrCode == dwErrCode) {
            pEntry = &g_Catalogue[i];
            break;
        }
    }
    if (!pEntry)
        return;                 // a code outside the catalogue has no text

    WCHAR szText[SM_CCH_MESSAGE] = L"";
    GetPrivateProfileStringW(c_MsgSection, pEntry->pszKey, pEntry->pszDefault, szText, ARRAYSIZE(szText),
                             g_MsgIniPath);
    if (dwErrCode == SM_CODE_STORE_NAME_CHANGED) {
        // The text, a space, the store-job name and a full stop, cut to the caller's capacity.
        MISC_Format(pszBuf, cchBuf, L"%s %s.", szText, g_StoreName);
    } else {
        StringCchCopyW(pszBuf, cchBuf, szText);
    }
}
