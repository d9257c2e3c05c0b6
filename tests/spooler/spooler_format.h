// The test-double spooler's state files: one format, shared by the double (winspool.drv) and
// the tests' helper (tests/common/spooler_state.h). Header only; see tests/spooler/README.md.
//
// Every file is UTF-8 text, one record per line (LF), fields separated by TAB. Text fields
// escape backslash, TAB, CR and LF as \\, \t, \r, \n. Numbers are written in decimal or, for
// bit words, as 0x........; readers accept both (strtoul base 0). Byte strings are hexadecimal.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string>
#include <vector>

#ifndef PRINTER_ACCESS_MANAGE_LIMITED     // documented since Windows 8.1, missing from the headers
#define PRINTER_ACCESS_MANAGE_LIMITED 0x00000040
#endif

namespace spd {

// Environment variable that names the state folder. Unset or empty: the double hands every
// call to Wine's builtin spooler.
static const wchar_t c_EnvVar[] = L"SM_SPOOLER_DIR";
// Cross-process lock around every read-modify-write of the state files.
static const wchar_t c_MutexName[] = L"SmSpoolerDoubleState";

static const wchar_t c_PrintersFile[] = L"printers.txt";   // name port attributes status
static const wchar_t c_JobsFile[] = L"jobs.txt";           // printer id document status
static const wchar_t c_DataFile[] = L"data.txt";           // printer name type size hex
static const wchar_t c_RawJobsFile[] = L"rawjobs.txt";     // printer id document datatype state size hex
static const wchar_t c_CallsFile[] = L"calls.log";         // function key=value ... rc=.. err=..
static const wchar_t c_FailFile[] = L"fail.txt";           // function [error [from]]
static const wchar_t c_NextJobFile[] = L"nextjob.txt";     // next job id
static const wchar_t c_ShortWriteFile[] = L"shortwrite.txt"; // most bytes one WritePrinter takes
static const wchar_t c_GrowFile[] = L"growjobs.txt";      // EnumJobsW calls still to add a job after them
static const wchar_t c_StandardUserFile[] = L"standarduser.txt"; // rights granted beyond use (0x40 or 0)

inline std::string Utf8(const std::wstring& s)
{
    if (s.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), NULL, 0, NULL, NULL);
    std::string out((size_t)cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], cb, NULL, NULL);
    return out;
}

inline std::wstring Wide(const std::string& s)
{
    if (s.empty())
        return std::wstring();
    int cch = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), NULL, 0);
    std::wstring out((size_t)cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], cch);
    return out;
}

inline std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c; break;
        }
    }
    return out;
}

inline std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            out += n == 't' ? '\t' : n == 'r' ? '\r' : n == 'n' ? '\n' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

inline std::string EscW(const std::wstring& s) { return Escape(Utf8(s)); }
inline std::wstring UnescW(const std::string& s) { return Wide(Unescape(s)); }

inline std::vector<std::string> Split(const std::string& line, char sep = '\t')
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t at = line.find(sep, start);
        fields.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            break;
        start = at + 1;
    }
    return fields;
}

inline std::string Join(const std::vector<std::string>& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); i++) {
        if (i)
            line += '\t';
        line += fields[i];
    }
    return line;
}

inline DWORD Num(const std::string& s)
{
    return (DWORD)strtoul(s.c_str(), NULL, 0);
}

inline std::string Dec(unsigned long long v)
{
    char buf[32];
    snprintf(buf, sizeof(buf), "%llu", v);
    return buf;
}

inline std::string Hex32(DWORD v)
{
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%08lX", (unsigned long)v);
    return buf;
}

inline std::string HexBytes(const void* data, size_t cb)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(cb * 2);
    const BYTE* p = static_cast<const BYTE*>(data);
    for (size_t i = 0; p && i < cb; i++) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

inline std::vector<BYTE> UnHex(const std::string& s)
{
    std::vector<BYTE> out;
    auto val = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 0;
    };
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back((BYTE)(val(s[i]) * 16 + val(s[i + 1])));
    return out;
}

inline std::wstring PathIn(const std::wstring& dir, const wchar_t* file)
{
    std::wstring p = dir;
    if (!p.empty() && p.back() != L'\\' && p.back() != L'/')
        p += L'\\';
    return p + file;
}

// The whole file as lines (empty lines dropped; a missing file has none).
inline std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return lines;
    std::string text;
    char buf[65536];
    DWORD cb = 0;
    while (ReadFile(h, buf, sizeof(buf), &cb, NULL) && cb)
        text.append(buf, cb);
    CloseHandle(h);
    size_t start = 0;
    while (start < text.size()) {
        size_t at = text.find('\n', start);
        std::string line = text.substr(start, at == std::string::npos ? std::string::npos : at - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        if (at == std::string::npos)
            break;
        start = at + 1;
    }
    return lines;
}

inline bool WriteText(const std::wstring& path, const std::string& text, bool append)
{
    HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD cb = 0;
    bool ok = text.empty() || (WriteFile(h, text.data(), (DWORD)text.size(), &cb, NULL) && cb == text.size());
    CloseHandle(h);
    return ok;
}

inline bool WriteLines(const std::wstring& path, const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    return WriteText(path, text, false);
}

inline bool AppendLine(const std::wstring& path, const std::string& line)
{
    return WriteText(path, line + "\n", true);
}

// Records ------------------------------------------------------------------------------------

struct Printer {
    std::wstring name;
    std::wstring port;
    DWORD attributes = 0;       // PRINTER_ATTRIBUTE_* (0x400 work offline)
    DWORD status = 0;           // PRINTER_STATUS_* word, as SetPrinterW level 0 leaves it
};

struct Job {
    std::wstring printer;
    DWORD id = 0;
    std::wstring document;
    DWORD status = 0;           // JOB_STATUS_* (0x800 restart after JOB_CONTROL_RESTART)
};

struct DataValue {              // one SetPrinterDataW call that succeeded, in order
    std::wstring printer;
    std::wstring name;
    DWORD type = 0;
    DWORD size = 0;             // cbData as given
    std::vector<BYTE> bytes;    // the cbData bytes
};

struct RawJob {                 // one raw job, recorded when its document ends or its handle closes
    std::wstring printer;
    DWORD id = 0;
    std::wstring document;
    std::wstring datatype;
    std::string state;          // "ended" (EndDocPrinter), "aborted" (AbortPrinter), "closed" (ClosePrinter while open)
    std::vector<BYTE> bytes;
};

struct Call {                   // one line of calls.log
    std::string function;
    std::vector<std::pair<std::string, std::string>> args;   // key=value in order, rc and err included
    std::string Arg(const std::string& key) const
    {
        for (const auto& a : args)
            if (a.first == key)
                return a.second;
        return std::string();
    }
    bool Has(const std::string& key) const
    {
        for (const auto& a : args)
            if (a.first == key)
                return true;
        return false;
    }
};

struct FailRule {
    std::string function;
    DWORD error = ERROR_GEN_FAILURE;   // 31 unless given
    DWORD from = 0;                    // 0 or 1: every call; n: the n-th call (counted in calls.log) and later
};

inline std::string Format(const Printer& p)
{
    return Join({ EscW(p.name), EscW(p.port), Hex32(p.attributes), Hex32(p.status) });
}

inline bool Parse(const std::string& line, Printer* p)
{
    std::vector<std::string> f = Split(line);
    if (f.size() < 4)
        return false;
    p->name = UnescW(f[0]);
    p->port = UnescW(f[1]);
    p->attributes = Num(f[2]);
    p->status = Num(f[3]);
    return true;
}

inline std::string Format(const Job& j)
{
    return Join({ EscW(j.printer), Dec(j.id), EscW(j.document), Hex32(j.status) });
}

inline bool Parse(const std::string& line, Job* j)
{
    std::vector<std::string> f = Split(line);
    if (f.size() < 4)
        return false;
    j->printer = UnescW(f[0]);
    j->id = Num(f[1]);
    j->document = UnescW(f[2]);
    j->status = Num(f[3]);
    return true;
}

inline std::string Format(const DataValue& d)
{
    return Join({ EscW(d.printer), EscW(d.name), Dec(d.type), Dec(d.size),
                  HexBytes(d.bytes.data(), d.bytes.size()) });
}

inline bool Parse(const std::string& line, DataValue* d)
{
    std::vector<std::string> f = Split(line);
    if (f.size() < 5)
        return false;
    d->printer = UnescW(f[0]);
    d->name = UnescW(f[1]);
    d->type = Num(f[2]);
    d->size = Num(f[3]);
    d->bytes = UnHex(f[4]);
    return true;
}

inline std::string Format(const RawJob& r)
{
    return Join({ EscW(r.printer), Dec(r.id), EscW(r.document), EscW(r.datatype), r.state,
                  Dec(r.bytes.size()), HexBytes(r.bytes.data(), r.bytes.size()) });
}

inline bool Parse(const std::string& line, RawJob* r)
{
    std::vector<std::string> f = Split(line);
    if (f.size() < 7)
        return false;
    r->printer = UnescW(f[0]);
    r->id = Num(f[1]);
    r->document = UnescW(f[2]);
    r->datatype = UnescW(f[3]);
    r->state = f[4];
    r->bytes = UnHex(f[6]);
    return true;
}

inline bool Parse(const std::string& line, Call* c)
{
    std::vector<std::string> f = Split(line);
    if (f.empty() || f[0].empty())
        return false;
    c->function = f[0];
    c->args.clear();
    for (size_t i = 1; i < f.size(); i++) {
        size_t eq = f[i].find('=');
        if (eq == std::string::npos)
            c->args.emplace_back(Unescape(f[i]), std::string());
        else
            c->args.emplace_back(Unescape(f[i].substr(0, eq)), Unescape(f[i].substr(eq + 1)));
    }
    return true;
}

inline bool Parse(const std::string& line, FailRule* r)
{
    std::vector<std::string> f;
    std::string cur;
    for (char c : line + " ") {
        if (c == ' ' || c == '\t') {
            if (!cur.empty())
                f.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (f.empty() || f[0][0] == '#')
        return false;
    r->function = f[0];
    r->error = f.size() > 1 ? Num(f[1]) : ERROR_GEN_FAILURE;
    r->from = f.size() > 2 ? Num(f[2]) : 0;
    return true;
}

inline std::string Format(const FailRule& r)
{
    return r.function + " " + Dec(r.error) + " " + Dec(r.from);
}

template <typename T>
std::vector<T> ReadAll(const std::wstring& dir, const wchar_t* file)
{
    std::vector<T> out;
    for (const std::string& line : ReadLines(PathIn(dir, file))) {
        T rec;
        if (Parse(line, &rec))
            out.push_back(rec);
    }
    return out;
}

template <typename T>
bool WriteAll(const std::wstring& dir, const wchar_t* file, const std::vector<T>& recs)
{
    std::vector<std::string> lines;
    for (const T& r : recs)
        lines.push_back(Format(r));
    return WriteLines(PathIn(dir, file), lines);
}

// The named mutex, held for the life of the object (waits at most 10 s).
class Lock {
public:
    Lock() : m_h(CreateMutexW(NULL, FALSE, c_MutexName))
    {
        if (m_h) {
            DWORD w = WaitForSingleObject(m_h, 10000);
            m_owned = (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
        }
    }
    ~Lock()
    {
        if (m_h) {
            if (m_owned)
                ReleaseMutex(m_h);
            CloseHandle(m_h);
        }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    HANDLE m_h;
    bool m_owned = false;
};

} // namespace spd
