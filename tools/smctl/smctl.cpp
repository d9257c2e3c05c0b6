// smctl: writes the exchange file as the driver does, shows its state, talks to a running
// monitor, and builds and checks watermark job files.
#include "tools/smctl/smctl.h"
#include "tools/smctl/smctl_wm.h"
#include "tools/smctl/smctl_fax.h"
#include "tools/smctl/smctl_status.h"
#include "tools/smctl/smctl_dialog.h"
#include "tools/smctl/smctl_why.h"
#include "tools/smctl/smctl_lint.h"
#include "tools/smctl/smctl_wmproof.h"
#include "tools/smctl/smctl_replay.h"
#include <stdarg.h>
#include <strsafe.h>

// Subcommand table; each group adds its entries here.
static const SMCTL_COMMAND c_Commands[] = {
    { L"wm-make", Smctl_WmMake, SMCTL_WM_MAKE_SYNOPSIS, L"writes a watermark job file from options",
      SMCTL_WM_MAKE_DETAILS, SMCTL_WM_VALUE_OPTIONS, L" --fax " },
    { L"wm-show", Smctl_WmShow, L"<job.ini>", L"decodes a watermark job and gives the job's verdict on it",
      L"exit code 1: the job refuses the record", NULL, NULL },
    { L"wm-sample", Smctl_WmSample, L"<file.bmp> <1|4|8|16|24> <width> <height>",
      L"writes a test bitmap of any depth with the program's writer", L"width and height: 1 to 20000", NULL, NULL },
    { L"wm-proof", Smctl_WmProof, L"<job.ini> [--preview out.png]",
      L"renders a watermark job in memory and reports what the page holds", SMCTL_WM_PROOF_DETAILS,
      L" --preview ", NULL },
    { L"fax-make", Smctl_FaxMake, L"<job.ini> [fax options] [wm-make options] --out FILE.bmp",
      L"writes a fax cover-page job with its str.ini and cover.ini", SMCTL_FAX_MAKE_DETAILS,
      SMCTL_FAX_VALUE_OPTIONS SMCTL_WM_VALUE_OPTIONS, L" --fax --open-last-line --no-message " },
    { L"printer", Smctl_Printer, L"<name>", L"writes \"PrinterName\": the printer the monitor watches", NULL, NULL,
      NULL },
    { L"announce", Smctl_Announce, L"<status> [lastmsg]",
      L"writes \"Status\", a fresh \"LastMsg\" (or the one given) and \"Message\" 1027",
      L"prints LastMsg=N t=T (100 ns units since 1601, when the announcement was complete)", NULL, NULL },
    { L"reset", Smctl_Reset, L"", L"writes \"Message\" 1026: the monitor closes its dialog and resets", NULL, NULL,
      NULL },
    { L"jobid", Smctl_JobId, L"<id>", L"writes \"JobID\" of section \"Job Information\" (0 to 2147483647)", NULL,
      NULL, NULL },
    { L"showqel", Smctl_ShowQel, L"<0|1>", L"writes \"ShowQelSM\": 0 suppresses the status dialog", NULL, NULL, NULL },
    { L"message", Smctl_Message, L"<n>",
      L"writes \"Message\" (0 nothing, 1026 reset, 1027 new status, 1028 alive)", NULL, NULL, NULL },
    { L"state", Smctl_State, L"[class]", L"prints the exchange file's values and whether a monitor runs",
      L"reads only: the file is never created or rewritten", NULL, NULL },
    { L"exit", Smctl_Exit, L"[class]", L"posts WM_SM_EXIT to the running monitor", L"exit code 1: no monitor runs",
      NULL, NULL },
    { L"stress", Smctl_Stress, L"<count>", L"that many announcements in a row, a new list each time",
      L"count: 1 to 1000000; prints the last list", NULL, NULL },
    { L"dialog", Smctl_Dialog, L"[--wait ms] [--shot file.bmp] [--press delete|continue]",
      L"prints the status dialog's texts, pictures it, presses a button",
      L"--wait: 0 to 600000 ms; exit code 1: no dialog, or the button is not shown", L" --wait --shot --press ",
      NULL },
    { L"why", Smctl_Why, L"[--json]", L"explains what a poll of the exchange file does and what the dialog then shows",
      L"reads only: the exchange file is never created or rewritten", NULL, L" --json " },
    { L"lint", Smctl_Lint, L"[smen.ini]", L"checks a message file: encoding, keys, code page, texts that do not fit",
      SMCTL_LINT_DETAILS, NULL, NULL },
    { L"replay", Smctl_Replay, L"<scenario.txt> [--class CLASS]", L"plays a fault scenario against the running monitor",
      SMCTL_REPLAY_DETAILS, L" --class ", NULL },
    { NULL, NULL, NULL, NULL, NULL, NULL, NULL },
};

// Output -----------------------------------------------------------------------------------------

// The formatted text, "\n" made "\r\n"; as long as it needs to be.
static std::wstring FormatV(const wchar_t* format, va_list args)
{
    std::vector<wchar_t> buf(1024);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        HRESULT hr = StringCchVPrintfW(buf.data(), buf.size(), format, copy);
        va_end(copy);
        if (hr != STRSAFE_E_INSUFFICIENT_BUFFER || buf.size() >= (1u << 22))
            break;
        buf.resize(buf.size() * 4);
    }
    std::wstring out;
    for (const wchar_t* p = buf.data(); *p; p++) {
        if (*p == L'\n' && (p == buf.data() || p[-1] != L'\r'))
            out += L'\r';
        out += *p;
    }
    return out;
}

// UTF-16 through the console's own call; UTF-8 bytes to anything else.
static void Put(DWORD nStdHandle, const std::wstring& text)
{
    HANDLE h = GetStdHandle(nStdHandle);
    if (h == NULL || h == INVALID_HANDLE_VALUE || text.empty())
        return;
    DWORD mode = 0, cch = 0;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, text.data(), (DWORD)text.size(), &cch, NULL);
        return;
    }
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    if (cb <= 0)
        return;
    std::string bytes((size_t)cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], cb, NULL, NULL);
    DWORD cbWritten = 0;
    WriteFile(h, bytes.data(), (DWORD)bytes.size(), &cbWritten, NULL);
}

void Smctl_Print(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = FormatV(format, args);
    va_end(args);
    Put(STD_OUTPUT_HANDLE, text);
}

void Smctl_Error(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = FormatV(format, args);
    va_end(args);
    Put(STD_ERROR_HANDLE, L"smctl: " + text + L"\r\n");
}

static const SMCTL_COMMAND* FindCommand(const wchar_t* name)
{
    for (const SMCTL_COMMAND* c = c_Commands; c->name; c++) {
        if (wcscmp(name, c->name) == 0)
            return c;
    }
    return NULL;
}

int Smctl_Usage(const wchar_t* command, const wchar_t* problem)
{
    const SMCTL_COMMAND* c = FindCommand(command);
    Smctl_Error(L"%s: %s; usage: smctl %s %s (smctl help %s)", command, problem, command, c ? c->synopsis : L"",
                command);
    return SMCTL_EXIT_USAGE;
}

// Help ---------------------------------------------------------------------------------------------

static void PrintOverview(void)
{
    Smctl_Print(L"usage: smctl <command> [arguments] [options]\n"
                L"       smctl help [command] | smctl --version\n\ncommands:\n");
    for (const SMCTL_COMMAND* c = c_Commands; c->name; c++)
        Smctl_Print(L"  %-10s %s\n", c->name, c->summary);
    Smctl_Print(L"\nOptions may stand before or after the arguments; every file is taken relative to the\n"
                L"current folder. Exit codes: 0 done, 1 the check or action failed, 2 usage or input error.\n"
                L"\"smctl help <command>\" or \"smctl <command> --help\" describes one command.\n");
}

static void PrintCommandHelp(const SMCTL_COMMAND* c)
{
    Smctl_Print(L"usage: smctl %s %s\n%s\n", c->name, c->synopsis, c->summary);
    if (c->details)
        Smctl_Print(L"%s\n", c->details);
}

static int PrintVersion(void)
{
    // The version block linked from the program's resources: smctl is built with the program.
    HRSRC hRes = FindResourceW(NULL, MAKEINTRESOURCEW(VS_VERSION_INFO), (LPCWSTR)RT_VERSION);
    HGLOBAL hData = hRes ? LoadResource(NULL, hRes) : NULL;
    const BYTE* p = hData ? (const BYTE*)LockResource(hData) : NULL;
    DWORD cb = hRes ? SizeofResource(NULL, hRes) : 0;
    for (DWORD i = 0; p && i + sizeof(VS_FIXEDFILEINFO) <= cb; i += 4) {
        const VS_FIXEDFILEINFO* f = (const VS_FIXEDFILEINFO*)(p + i);
        if (f->dwSignature == 0xFEEF04BD) {
            Smctl_Print(L"smctl %u.%u.%u.%u\n", HIWORD(f->dwFileVersionMS), LOWORD(f->dwFileVersionMS),
                        HIWORD(f->dwFileVersionLS), LOWORD(f->dwFileVersionLS));
            return SMCTL_EXIT_DONE;
        }
    }
    Smctl_Error(L"the version block is missing; rebuild smctl");
    return SMCTL_EXIT_FAILED;
}

// Arguments ----------------------------------------------------------------------------------------

static bool InList(const wchar_t* list, const wchar_t* option)
{
    if (!list)
        return false;
    std::wstring needle = L" " + std::wstring(option) + L" ";
    return wcsstr(list, needle.c_str()) != NULL;
}

// A word that is an option rather than an argument (a negative number is an argument).
static bool IsOption(const wchar_t* s)
{
    return s[0] == L'-' && s[1] && !(s[1] >= L'0' && s[1] <= L'9');
}

// Positional arguments first, then the options with their values in the order given.
static bool Reorder(const SMCTL_COMMAND* c, int argc, wchar_t** argv, std::vector<wchar_t*>* pOut, bool* pfHelp)
{
    std::vector<wchar_t*> positional, options;
    bool onlyArgs = false;
    for (int i = 0; i < argc; i++) {
        wchar_t* a = argv[i];
        if (onlyArgs || !IsOption(a)) {
            positional.push_back(a);
        } else if (wcscmp(a, L"--") == 0) {
            onlyArgs = true;
        } else if (wcscmp(a, L"-h") == 0 || wcscmp(a, L"--help") == 0) {
            *pfHelp = true;
        } else if (InList(c->valueOptions, a)) {
            if (i + 1 >= argc) {
                Smctl_Usage(c->name, (std::wstring(a) + L" needs a value").c_str());
                return false;
            }
            options.push_back(a);
            options.push_back(argv[++i]);
        } else if (InList(c->flagOptions, a)) {
            options.push_back(a);
        } else {
            Smctl_Usage(c->name, (L"unknown option " + std::wstring(a)).c_str());
            return false;
        }
    }
    *pOut = positional;
    pOut->insert(pOut->end(), options.begin(), options.end());
    return true;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        PrintOverview();
        Smctl_Error(L"no command given; name one of the commands above");
        return SMCTL_EXIT_USAGE;
    }
    const wchar_t* first = argv[1];
    if (wcscmp(first, L"--version") == 0)
        return PrintVersion();
    if (wcscmp(first, L"help") == 0 || wcscmp(first, L"--help") == 0 || wcscmp(first, L"-h") == 0) {
        if (argc == 2) {
            PrintOverview();
            return SMCTL_EXIT_DONE;
        }
        const SMCTL_COMMAND* c = FindCommand(argv[2]);
        if (!c || argc > 3) {
            Smctl_Error(L"no command \"%s\"; \"smctl help\" lists them", argv[2]);
            return SMCTL_EXIT_USAGE;
        }
        PrintCommandHelp(c);
        return SMCTL_EXIT_DONE;
    }
    const SMCTL_COMMAND* c = FindCommand(first);
    if (!c) {
        Smctl_Error(L"unknown command \"%s\"; \"smctl help\" lists the commands", first);
        return SMCTL_EXIT_USAGE;
    }
    std::vector<wchar_t*> args;
    bool help = false;
    if (!Reorder(c, argc - 2, argv + 2, &args, &help))
        return SMCTL_EXIT_USAGE;
    if (help) {
        PrintCommandHelp(c);
        return SMCTL_EXIT_DONE;
    }
    args.push_back(NULL);
    return c->handler((int)args.size() - 1, args.data());
}

// Numbers and paths -------------------------------------------------------------------------------

bool Smctl_ParseNumber(const wchar_t* s, long long minimum, long long maximum, long long* pValue, bool fHex)
{
    if (!s)
        return false;
    const wchar_t* p = s;
    bool negative = *p == L'-';
    if (*p == L'-' || *p == L'+')
        p++;
    int base = 10;
    if (fHex && p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        base = 16;
        p += 2;
    }
    if (!*p)
        return false;
    unsigned long long v = 0;
    for (; *p; p++) {
        int d = (*p >= L'0' && *p <= L'9') ? *p - L'0'
                : (base == 16 && *p >= L'a' && *p <= L'f') ? *p - L'a' + 10
                : (base == 16 && *p >= L'A' && *p <= L'F') ? *p - L'A' + 10 : -1;
        if (d < 0)
            return false;
        if (v > (0x7FFFFFFFFFFFFFFFull - (unsigned)d) / (unsigned)base)
            return false;                   // beyond any field
        v = v * (unsigned)base + (unsigned)d;
    }
    long long value = negative ? -(long long)v : (long long)v;
    if (value < minimum || value > maximum)
        return false;
    *pValue = value;
    return true;
}

bool Smctl_Number(const wchar_t* command, const wchar_t* what, const wchar_t* s, long long minimum, long long maximum,
                  long long* pValue, bool fHex)
{
    if (Smctl_ParseNumber(s, minimum, maximum, pValue, fHex))
        return true;
    WCHAR sz[256];
    StringCchPrintfW(sz, ARRAYSIZE(sz), L"%s \"%s\" is not a whole number from %lld to %lld", what, s ? s : L"",
                     minimum, maximum);
    Smctl_Usage(command, sz);
    return false;
}

std::wstring Smctl_FullPath(const wchar_t* path)
{
    DWORD cch = GetFullPathNameW(path, 0, NULL, NULL);
    if (cch == 0)
        return path;
    std::vector<wchar_t> buf(cch + 1);
    DWORD got = GetFullPathNameW(path, (DWORD)buf.size(), buf.data(), NULL);
    return got > 0 && got < buf.size() ? std::wstring(buf.data()) : std::wstring(path);
}

// File contents -------------------------------------------------------------------------------------

static bool IsUtf8(const std::string& b, bool* pfHigh)
{
    *pfHigh = false;
    for (char c : b)
        *pfHigh = *pfHigh || (c & 0x80) != 0;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, b.data(), (int)b.size(), NULL, 0) > 0;
}

SMCTL_ENCODING Smctl_ReadFile(LPCWSTR pszPath, std::string* pBytes)
{
    pBytes->clear();
    DWORD attrs = GetFileAttributesW(pszPath);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? SMCTL_ENC_MISSING
                                                                                              : SMCTL_ENC_UNREADABLE;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        return SMCTL_ENC_FOLDER;
    // Read with every sharing mode, so that a writer elsewhere is never disturbed.
    HANDLE h = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return SMCTL_ENC_UNREADABLE;
    char buf[4096];
    DWORD cb = 0;
    bool ok = true;
    while ((ok = ReadFile(h, buf, sizeof(buf), &cb, NULL) != FALSE) && cb > 0 && pBytes->size() < (64u << 20))
        pBytes->append(buf, cb);
    CloseHandle(h);
    if (!ok)
        return SMCTL_ENC_UNREADABLE;
    const std::string& b = *pBytes;
    if (b.empty())
        return SMCTL_ENC_EMPTY;
    if (b.size() >= 2 && (BYTE)b[0] == 0xFF && (BYTE)b[1] == 0xFE)
        return SMCTL_ENC_UTF16LE;
    if (b.size() >= 2 && (BYTE)b[0] == 0xFE && (BYTE)b[1] == 0xFF)
        return SMCTL_ENC_UTF16BE;
    if (b.size() >= 3 && b.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return SMCTL_ENC_UTF8_BOM;
    // Text as UTF-16 without a mark: even length, every odd byte of the first ones zero.
    size_t zeros = 0, n = b.size() < 64 ? b.size() : 64;
    for (size_t i = 1; i < n; i += 2)
        zeros += b[i] == 0;
    if (b.size() % 2 == 0 && n >= 2 && zeros == n / 2 && b[0] != 0)
        return SMCTL_ENC_UTF16LE_NOBOM;
    if (b.find('\0') != std::string::npos)
        return SMCTL_ENC_BINARY;
    bool high = false;
    if (IsUtf8(b, &high))
        return high ? SMCTL_ENC_UTF8 : SMCTL_ENC_ASCII;
    return SMCTL_ENC_BINARY;
}

bool Smctl_DecodeText(SMCTL_ENCODING enc, const std::string& b, std::wstring* pText)
{
    pText->clear();
    size_t skip = 0;
    switch (enc) {
    case SMCTL_ENC_EMPTY:
        return true;
    case SMCTL_ENC_UTF16LE:
    case SMCTL_ENC_UTF16BE:
    case SMCTL_ENC_UTF16LE_NOBOM:
        skip = enc == SMCTL_ENC_UTF16LE_NOBOM ? 0 : 2;
        for (size_t i = skip; i + 1 < b.size(); i += 2) {
            BYTE lo = (BYTE)b[i + (enc == SMCTL_ENC_UTF16BE)], hi = (BYTE)b[i + (enc != SMCTL_ENC_UTF16BE)];
            *pText += (wchar_t)(lo | (hi << 8));
        }
        return true;
    case SMCTL_ENC_UTF8_BOM:
    case SMCTL_ENC_ASCII:
    case SMCTL_ENC_UTF8: {
        skip = enc == SMCTL_ENC_UTF8_BOM ? 3 : 0;
        int cch = MultiByteToWideChar(CP_UTF8, 0, b.data() + skip, (int)(b.size() - skip), NULL, 0);
        if (cch > 0) {
            pText->resize((size_t)cch);
            MultiByteToWideChar(CP_UTF8, 0, b.data() + skip, (int)(b.size() - skip), &(*pText)[0], cch);
        }
        return true;
    }
    default:
        return false;
    }
}

LPCWSTR Smctl_EncodingName(SMCTL_ENCODING enc)
{
    switch (enc) {
    case SMCTL_ENC_MISSING: return L"absent";
    case SMCTL_ENC_FOLDER: return L"a folder, not a file";
    case SMCTL_ENC_UNREADABLE: return L"not readable";
    case SMCTL_ENC_EMPTY: return L"empty";
    case SMCTL_ENC_UTF16LE: return L"UTF-16 with byte-order mark";
    case SMCTL_ENC_UTF16BE: return L"UTF-16 big-endian";
    case SMCTL_ENC_UTF16LE_NOBOM: return L"UTF-16 without byte-order mark";
    case SMCTL_ENC_UTF8_BOM: return L"UTF-8 with byte-order mark";
    case SMCTL_ENC_ASCII: return L"ASCII (no byte-order mark)";
    case SMCTL_ENC_UTF8: return L"UTF-8 without byte-order mark";
    case SMCTL_ENC_BINARY: return L"neither UTF-16 nor UTF-8 text";
    }
    return L"";
}

std::vector<std::wstring> Smctl_Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    for (size_t pos = 0; pos <= text.size();) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        if (!lines.back().empty() && lines.back().back() == L'\r')
            lines.back().pop_back();
        pos = end + 1;
    }
    return lines;
}
