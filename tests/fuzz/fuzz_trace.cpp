// Fuzz target of the trace facility: the bounded formatter and the trace lines with '%'
// sequences inside their arguments, names and prefix, nesting beyond the name stack, and the
// operator's settings text.
#include "fuzz.h"
#include "util/trace.h"
#include <stdio.h>
#include <string.h>

namespace {

const size_t c_MaxArgLen = 2500;
const size_t c_MaxOutCch = 2100;
const int    c_MaxNesting = 70;

std::vector<BYTE> g_Input;
std::wstring g_LogPath;
GuardBuffer* g_pArgBuf[2];
GuardBuffer* g_pOutBuf;

const std::vector<std::wstring>& TraceTokens()
{
    static const std::vector<std::wstring> tokens = {
        L"%s", L"%n", L"%d", L"%%", L"%ls", L"%hs", L"%S", L"%*d", L"%999999d", L"%.9999s", L"%p", L"%c",
        L"threshold=", L"channel=", L"switch=", L"file=", L"path=", L"prefix=", L";", L"=",
    };
    return tokens;
}

void Init(const std::wstring& workDir)
{
    g_pArgBuf[0] = new GuardBuffer((c_MaxArgLen + 1) * sizeof(WCHAR));
    g_pArgBuf[1] = new GuardBuffer((c_MaxArgLen + 1) * sizeof(WCHAR));
    g_pOutBuf = new GuardBuffer(c_MaxOutCch * sizeof(WCHAR));
    g_LogPath = workDir + L"trace.log";
}

bool IsPrintableAscii(const std::wstring& s)
{
    for (wchar_t ch : s) {
        if (ch < 0x20 || ch > 0x7E)
            return false;
    }
    return true;
}

std::wstring Cut(const std::wstring& s, size_t cch)
{
    return s.size() > cch ? s.substr(0, cch) : s;
}

// Formats the program uses with string arguments, and what they make of two arguments a and b.
struct FormatCase {
    const wchar_t* format;
    std::wstring (*expect)(const std::wstring& a, const std::wstring& b, int n);
};

const FormatCase c_Formats[] = {
    { L"%s", [](const std::wstring& a, const std::wstring&, int) { return a; } },
    { L"Open %s fail!", [](const std::wstring& a, const std::wstring&, int) { return L"Open " + a + L" fail!"; } },
    { L"%s = %s", [](const std::wstring& a, const std::wstring& b, int) { return a + L" = " + b; } },
    { L"%s %s.", [](const std::wstring& a, const std::wstring& b, int) { return a + L" " + b + L"."; } },
    { L"code %d: %s", [](const std::wstring& a, const std::wstring&, int n) { return L"code " + std::to_wstring(n) + L": " + a; } },
    { L"JobId = %d, job name is %s",
      [](const std::wstring& a, const std::wstring&, int n) { return L"JobId = " + std::to_wstring(n) + L", job name is " + a; } },
};

std::wstring Arg(FuzzRng& rng)
{
    return FuzzText(rng, c_MaxArgLen, TraceTokens());
}

// The last CR LF-ended line of the log, as bytes.
std::string LastLogLine()
{
    std::string text;
    FILE* fp = _wfopen(g_LogPath.c_str(), L"rb");
    if (!fp)
        return "<no log>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
        text.append(buf, n);
    fclose(fp);
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return "<no line end>";
    text.resize(text.size() - 2);
    size_t at = text.rfind("\r\n");
    return at == std::string::npos ? text : text.substr(at + 2);
}

void ConfigureTrace(const std::wstring& prefix, bool toFile)
{
    TRACE_SETTINGS s;
    TRACE_GetDefaultSettings(&s);
    s.threshold = TRACE_LEVEL_INFO;
    s.activeChannel = 1;
    s.channelSwitch[0] = 1;
    s.fileOutput = toFile ? 1 : 0;
    wcsncpy_s(s.logPath, ARRAYSIZE(s.logPath), g_LogPath.c_str(), _TRUNCATE);
    wcsncpy_s(s.prefix, ARRAYSIZE(s.prefix), prefix.c_str(), _TRUNCATE);
    TRACE_Configure(&s);
    TRACE_ResetCounters();
}

void RunFormat(FuzzRng& rng, uint64_t index)
{
    const FormatCase& fc = c_Formats[rng.Below(ARRAYSIZE(c_Formats))];
    std::wstring a = Arg(rng);
    std::wstring b = Arg(rng);
    int n = (int)rng.Next();
    FuzzKeep(&g_Input, a.data(), a.size() * sizeof(wchar_t));
    const WCHAR* pa = g_pArgBuf[0]->PlaceString(a);
    const WCHAR* pb = g_pArgBuf[1]->PlaceString(b);
    size_t cch = rng.OneIn(16) ? 0 : 1 + rng.Below(c_MaxOutCch);
    WCHAR* pOut = g_pOutBuf->Place<WCHAR>(cch);
    if (wcsstr(fc.format, L"%d"))
        MISC_Format(pOut, cch, fc.format, n, pa);
    else
        MISC_Format(pOut, cch, fc.format, pa, pb);
    if (cch == 0)
        return;
    std::wstring expected = Cut(fc.expect(a, b, n), cch - 1);
    if (!wmemchr(pOut, 0, cch)) {
        FuzzFail("trace", index, "formatted text not terminated in its buffer");
        return;
    }
    if (std::wstring(pOut) != expected)
        FuzzFail("trace", index, std::string("format \"") + FuzzNarrow(fc.format) + "\" into " + std::to_string(cch) +
                 " units: got \"" + FuzzNarrow(std::wstring(pOut)).substr(0, 200) + "\"");
}

void RunPrint(FuzzRng& rng, uint64_t index)
{
    std::wstring prefix = FuzzText(rng, TRACE_CCH_PREFIX + 8, TraceTokens());
    std::wstring a = Arg(rng);
    FuzzKeep(&g_Input, a.data(), a.size() * sizeof(wchar_t));
    bool check = rng.OneIn(4);
    if (check)
        DeleteFileW(g_LogPath.c_str());
    ConfigureTrace(prefix, check);
    const WCHAR* pa = g_pArgBuf[0]->PlaceString(a);
    bool error = rng.OneIn(2);
    switch (rng.Below(3)) {
    case 0:
        TRACE_Print(error ? TRACE_LEVEL_ERROR : TRACE_LEVEL_INFO, L"%s", pa);
        break;
    case 1:
        TRACE_Print(error ? TRACE_LEVEL_ERROR : TRACE_LEVEL_INFO, pa[0] ? L"Open %s fail!" : L"%s", pa);
        check = false;
        break;
    default:
        if (error)
            TRACE_TagError(pa, L"%s", pa);
        else
            TRACE_Tag(pa, L"%s", pa);
        check = false;
        break;
    }
    if (!check)
        return;
    // At depth 0 a line is the prefix, "::", the text, and the error marker at level 4, cut to
    // the line's 1023 units.
    std::wstring cutPrefix = Cut(prefix, TRACE_CCH_PREFIX - 1);
    std::wstring expected = cutPrefix + L"::" + a;
    if (error)
        expected += L"-------------------------------------->ERROR";
    expected = Cut(expected, TRACE_CCH_LINE - 1);
    std::string line = LastLogLine();
    if (line.size() > TRACE_CB_ANSI - 1)
        FuzzFail("trace", index, "a log line of " + std::to_string(line.size()) + " bytes");
    if (IsPrintableAscii(expected) && line != FuzzNarrow(expected))
        FuzzFail("trace", index, "log line \"" + line.substr(0, 200) + "\" is not the text written");
}

void RunNesting(FuzzRng& rng, uint64_t index)
{
    ConfigureTrace(FuzzText(rng, TRACE_CCH_PREFIX - 1, TraceTokens()), false);
    int depth = (int)rng.Below(c_MaxNesting + 1);
    std::wstring name = FuzzText(rng, 120, TraceTokens());
    FuzzKeep(&g_Input, name.data(), name.size() * sizeof(wchar_t));
    const WCHAR* pName = g_pArgBuf[0]->PlaceString(name);
    for (int i = 0; i < depth; i++) {
        TRACE_FuncIn(TRACE_LEVEL_INFO, pName);
        if (rng.OneIn(4))
            TRACE_Print(TRACE_LEVEL_INFO, L"%s", pName);
    }
    for (int i = 0; i < depth; i++)
        TRACE_FuncOut(TRACE_LEVEL_INFO);
    int indent = -1, level = -1;
    TRACE_GetCounters(&indent, &level);
    if (indent != 0 || level != 0)
        FuzzFail("trace", index, "counters " + std::to_string(indent) + ", " + std::to_string(level) +
                 " after " + std::to_string(depth) + " balanced calls");
}

void RunSettings(FuzzRng& rng, uint64_t index)
{
    std::wstring spec = FuzzText(rng, 1200, TraceTokens());
    FuzzKeep(&g_Input, spec.data(), spec.size() * sizeof(wchar_t));
    TRACE_SETTINGS* pSettings = g_pOutBuf->Place<TRACE_SETTINGS>(1);
    TRACE_ParseSettings(g_pArgBuf[0]->PlaceString(spec), pSettings);
    if (!wmemchr(pSettings->prefix, 0, ARRAYSIZE(pSettings->prefix)) ||
        !wmemchr(pSettings->logPath, 0, ARRAYSIZE(pSettings->logPath)))
        FuzzFail("trace", index, "settings text not terminated");
}

void Run(FuzzRng& rng, uint64_t index)
{
    switch (rng.Below(8)) {
    case 0: case 1: case 2: case 3:
        RunFormat(rng, index);
        break;
    case 4: case 5:
        RunPrint(rng, index);
        break;
    case 6:
        RunNesting(rng, index);
        break;
    default:
        RunSettings(rng, index);
        break;
    }
    TRACE_SETTINGS off;
    TRACE_GetDefaultSettings(&off);
    TRACE_Configure(&off);
}

std::vector<BYTE>* Input() { return &g_Input; }

} // namespace

const FuzzTarget g_FuzzTrace = {
    "trace", "the trace formatter and lines with '%' sequences in arguments, names and prefix; the settings text",
    Init, Run, Input,
};
