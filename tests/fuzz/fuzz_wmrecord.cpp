// Fuzz target of the watermark job record: base64 values of any length and alphabet, decoded in
// memory and read from the job's INI file, and the record's validation.
#include "fuzz.h"
#include "bitmap/bitmap.h"
#include <string.h>

namespace {

const size_t c_MaxValueLen = 8000;
const size_t c_MaxDestBytes = 4000;
const size_t c_MaxWhyCch = 64;

std::vector<BYTE> g_Input;
std::wstring g_JobIni;
GuardBuffer* g_pValueBuf;
GuardBuffer* g_pDestBuf;
GuardBuffer* g_pRecordBuf;
GuardBuffer* g_pWhyBuf;

const std::vector<std::wstring>& Base64Tokens()
{
    static const std::vector<std::wstring> tokens = {
        L"AAAA", L"////", L"++++", L"=", L"==", L"A=", L"QUJD", L"\x394", L"\xE9", L" ", L"\r\n", L"-_",
    };
    return tokens;
}

void Init(const std::wstring& workDir)
{
    g_pValueBuf = new GuardBuffer(c_MaxValueLen + 1);
    g_pDestBuf = new GuardBuffer(c_MaxDestBytes);
    g_pRecordBuf = new GuardBuffer(sizeof(WmBitmapParam));
    g_pWhyBuf = new GuardBuffer(c_MaxWhyCch * sizeof(WCHAR));
    g_JobIni = workDir + L"job.ini";
}

// A record that passes validation, with random text, names and sizes: the seed of mutations.
void ValidRecord(FuzzRng& rng, WmBitmapParam* p)
{
    for (size_t i = 0; i < sizeof(*p); i++)
        reinterpret_cast<BYTE*>(p)[i] = (BYTE)rng.Next();
    p->tyWM.wDensity = (WORD)(20 + rng.Below(81));
    p->tyWM.wFontSize = (WORD)(1 + rng.Below(288));
    p->tyWM.wStyle = (WORD)rng.Below(4);
    p->tyWM.wAngleDegree = (WORD)rng.Below(361);
    p->tyWM.wPlacement = (WORD)rng.Below(2);
    p->nDstScale = 1 + (INT32)rng.Below(2);
    p->nMaxPageDensity = 1 + (INT32)rng.Below(7);
    p->nPageDensity = 1 + (INT32)rng.Below((size_t)p->nMaxPageDensity);
    p->nTextScale = 5 + (INT32)rng.Below(196);
}

std::wstring Encode(const void* p, size_t cb)
{
    std::wstring out((cb + 2) / 3 * 4 + 1, L'\0');
    MISC_Base64Encode(p, (UINT)cb, &out[0], out.size());
    out.resize(out.size() - 1);
    return out;
}

void CheckValidation(uint64_t index, const WmBitmapParam* pRecord, FuzzRng& rng)
{
    size_t cchWhy = rng.OneIn(8) ? 0 : 1 + rng.Below(c_MaxWhyCch);
    WCHAR* pWhy = g_pWhyBuf->Place<WCHAR>(cchWhy);
    int rule = SM_CheckWmBitmapParam(pRecord, pWhy, cchWhy);
    if (rule < 0 || rule > 9)
        FuzzFail("wmrecord", index, "validation rule " + std::to_string(rule));
    if (cchWhy && !wmemchr(pWhy, 0, cchWhy))
        FuzzFail("wmrecord", index, "validation text not terminated in its buffer");
}

void Run(FuzzRng& rng, uint64_t index)
{
    WmBitmapParam original;
    ValidRecord(rng, &original);
    std::wstring value;
    bool intact = false;
    switch (rng.Below(4)) {
    case 0:
        value = Encode(&original, sizeof(original));
        intact = true;
        break;
    case 1:
        value = Encode(&original, sizeof(original));
        FuzzMutate(rng, &value, c_MaxValueLen, Base64Tokens());
        break;
    case 2: {
        // Any length of the alphabet alone.
        static const char c_Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
        size_t n = rng.Length(c_MaxValueLen);
        for (size_t i = 0; i < n; i++)
            value += (wchar_t)c_Alphabet[rng.Below(sizeof(c_Alphabet) - 1)];
        break;
    }
    default:
        value = FuzzText(rng, c_MaxValueLen, Base64Tokens());
        break;
    }
    FuzzKeep(&g_Input, value.data(), value.size() * sizeof(wchar_t));

    // In memory: the value's bytes end at the guard page, so does the destination of any size.
    std::string narrow;
    for (wchar_t ch : value)
        narrow += (char)ch;
    const char* pIn = g_pValueBuf->PlaceString(narrow);
    size_t cbDest = rng.OneIn(2) ? sizeof(WmBitmapParam) : rng.Below(c_MaxDestBytes + 1);
    BYTE* pDest = g_pDestBuf->Place<BYTE>(cbDest);
    // Lengths beyond the text as well: the decoder must stop at the length it is given.
    size_t cbIn = rng.OneIn(4) ? rng.Below(narrow.size() + 1) : narrow.size() + 1;
    MISC_Base64DecodeGroups(pIn, cbIn, pDest, (UINT)cbDest);
    if (intact && cbDest == sizeof(WmBitmapParam) && cbIn > narrow.size() &&
        memcmp(pDest, &original, sizeof(original)) != 0)
        FuzzFail("wmrecord", index, "an encoded record does not decode to itself");
    if (cbDest == sizeof(WmBitmapParam))
        CheckValidation(index, reinterpret_cast<const WmBitmapParam*>(pDest), rng);

    // Through the job's INI file, into a record that ends at the guard page.
    if (rng.OneIn(2)) {
        if (!FuzzWriteIni(g_JobIni, WM_INI_SECTION, { { WM_INI_KEY, value } })) {
            FuzzFail("wmrecord", index, "job.ini cannot be written");
            return;
        }
        WmBitmapParam* pRecord = g_pRecordBuf->Place<WmBitmapParam>(1);
        memset(pRecord, 0xCC, sizeof(*pRecord));
        int rc = MISC_GetPrivateProfileStruct(WM_INI_SECTION, WM_INI_KEY, pRecord, sizeof(*pRecord), g_JobIni.c_str());
        if (rc != 0 && rc != 1)
            FuzzFail("wmrecord", index, "reader result " + std::to_string(rc));
        if (intact && (rc != 1 || memcmp(pRecord, &original, sizeof(original)) != 0))
            FuzzFail("wmrecord", index, "a record stored in the INI file is not read back as it was");
        if (rc == 1)
            CheckValidation(index, pRecord, rng);
    }
}

std::vector<BYTE>* Input() { return &g_Input; }

} // namespace

const FuzzTarget g_FuzzWmRecord = {
    "wmrecord", "the watermark record: base64 values of any length and alphabet, decoded and validated",
    Init, Run, Input,
};
