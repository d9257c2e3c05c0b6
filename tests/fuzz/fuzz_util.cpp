// Input makers shared by the fuzz targets.
#include "fuzz.h"
#include <stdio.h>

namespace {

// Characters that tend to break text handling: controls, the INI syntax, '%', characters the
// ANSI code page lacks, a character that needs a surrogate pair, lone surrogates, non-characters.
const wchar_t c_Hostile[] = {
    L'\t', L'\r', L'\n', L' ', L'|', L'%', L'=', L';', L'[', L']', L'"', L'\\', L'?', 0x7F,
    0xA0, 0xE9, 0x394, 0x416, 0x4E2D, 0x6587, 0x3000, 0xFEFF, 0xFFFD, 0xFFFE, 0xFFFF,
    0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0x202E, 0x1,
};

const wchar_t* const c_PercentTokens[] = {
    L"%s", L"%S", L"%ls", L"%hs", L"%n", L"%d", L"%x", L"%p", L"%%", L"%c", L"%*s", L"%.*s",
    L"%99999s", L"%-2147483648d", L"%I64d", L"%", L"%1$s",
};

} // namespace

size_t FuzzRng::Length(size_t maxLen)
{
    switch (Below(8)) {
    case 0:
        return Below(maxLen + 1);                          // anything up to the limit
    case 1: {
        // Near a bound the program knows: 127/128, 255/256, 259/260, 999/1000, 1023/1024, 3132.
        static const size_t c_Bounds[] = { 48, 51, 52, 127, 128, 255, 256, 259, 260, 261, 511, 512,
                                           999, 1000, 1001, 1023, 1024, 2348, 3131, 3132, 3133 };
        size_t n = c_Bounds[Below(sizeof(c_Bounds) / sizeof(c_Bounds[0]))] + Below(3) - 1;
        return n > maxLen ? maxLen : n;
    }
    default:
        return Below(maxLen < 64 ? maxLen + 1 : 65);      // mostly short
    }
}

std::wstring FuzzText(FuzzRng& rng, size_t maxLen, const std::vector<std::wstring>& tokens)
{
    size_t target = rng.Length(maxLen);
    std::wstring s;
    int style = (int)rng.Below(4);
    while (s.size() < target) {
        size_t pick = rng.Below(10);
        if (pick < 3 && !tokens.empty()) {
            s += tokens[rng.Below(tokens.size())];
        } else if (pick < 5) {
            s += (wchar_t)(L'0' + rng.Below(10));
        } else if (pick < 6) {
            s += c_Hostile[rng.Below(ARRAYSIZE(c_Hostile))];
        } else if (pick < 7) {
            s += c_PercentTokens[rng.Below(ARRAYSIZE(c_PercentTokens))];
        } else if (style == 0) {
            s += (wchar_t)(1 + rng.Below(0xFFFF));        // any unit but the terminator
        } else {
            s += (wchar_t)(L' ' + rng.Below(95));         // printable ASCII
        }
        if (rng.OneIn(64))
            s.append(rng.Length(maxLen), (wchar_t)(L'A' + rng.Below(26)));   // a long run
    }
    if (s.size() > maxLen)
        s.resize(maxLen);
    return s;
}

void FuzzMutate(FuzzRng& rng, std::wstring* text, size_t maxLen, const std::vector<std::wstring>& tokens)
{
    size_t steps = 1 + rng.Below(6);
    for (size_t i = 0; i < steps; i++) {
        size_t at = rng.Below(text->size() + 1);
        switch (rng.Below(6)) {
        case 0:
            if (!text->empty())
                (*text)[rng.Below(text->size())] ^= (wchar_t)(1u << rng.Below(16));
            break;
        case 1:
            if (!text->empty())
                text->erase(rng.Below(text->size()), 1 + rng.Below(16));
            break;
        case 2:
            if (!tokens.empty())
                text->insert(at, tokens[rng.Below(tokens.size())]);
            break;
        case 3:
            if (!text->empty()) {
                size_t from = rng.Below(text->size());
                std::wstring run = text->substr(from, 1 + rng.Below(64));
                size_t times = 1 + rng.Below(8);
                for (size_t k = 0; k < times; k++)
                    text->insert(at, run);
            }
            break;
        case 4:
            text->insert(at, 1, c_Hostile[rng.Below(ARRAYSIZE(c_Hostile))]);
            break;
        default:
            text->insert(at, c_PercentTokens[rng.Below(ARRAYSIZE(c_PercentTokens))]);
            break;
        }
    }
    if (text->size() > maxLen)
        text->resize(maxLen);
}

void FuzzKeep(std::vector<BYTE>* pKeep, const void* data, size_t cb)
{
    const BYTE* p = static_cast<const BYTE*>(data);
    pKeep->assign(p, p + cb);
}

double g_FuzzFileSeconds;

bool FuzzWriteFile(const std::wstring& path, const void* data, size_t cb)
{
    // Each file stays open for the whole pass and is rewritten in place: under Wine, opening and
    // closing a file costs server round trips that would dominate the pass, while writes and
    // truncation through an open handle do not. Readers open it as they would any file.
    static std::vector<std::pair<std::wstring, HANDLE>> s_Open;
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    HANDLE h = INVALID_HANDLE_VALUE;
    for (const auto& entry : s_Open) {
        if (entry.first == path)
            h = entry.second;
    }
    if (h == INVALID_HANDLE_VALUE) {
        h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        s_Open.push_back({ path, h });
    }
    DWORD cbWritten = 0;
    OVERLAPPED at = {};
    BOOL ok = cb == 0 || WriteFile(h, data, (DWORD)cb, &cbWritten, &at);
    FILE_END_OF_FILE_INFO eof;
    eof.EndOfFile.QuadPart = (LONGLONG)cb;
    ok = ok && SetFileInformationByHandle(h, FileEndOfFileInfo, &eof, sizeof(eof));
    QueryPerformanceCounter(&t1);
    g_FuzzFileSeconds += (double)(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
    return ok && cbWritten == cb;
}

bool FuzzWriteIni(const std::wstring& path, const std::wstring& section,
                  const std::vector<std::pair<std::wstring, std::wstring>>& pairs)
{
    std::wstring text;
    text += (wchar_t)0xFEFF;
    text += L"[" + section + L"]\r\n";
    for (const auto& kv : pairs)
        text += kv.first + L"=" + kv.second + L"\r\n";
    return FuzzWriteFile(path, text.data(), text.size() * sizeof(wchar_t));
}

std::string FuzzNarrow(const std::wstring& text)
{
    std::string s;
    for (wchar_t ch : text) {
        if (ch >= 0x20 && ch < 0x7F)
            s += (char)ch;
        else {
            char buf[8];
            snprintf(buf, sizeof(buf), "\\u%04X", (unsigned)ch);
            s += buf;
        }
    }
    return s;
}
