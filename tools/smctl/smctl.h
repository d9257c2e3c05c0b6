// smctl: the driver-side control tool. Each group of subcommands lives in its own file and
// registers in the table of smctl.cpp; this header holds what every command shares: output,
// errors, options, numbers and paths.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Exit codes of every command.
#define SMCTL_EXIT_DONE     0
#define SMCTL_EXIT_FAILED   1       // the check or the action failed
#define SMCTL_EXIT_USAGE    2       // usage or input error

// A subcommand gets its arguments after its own name, positional ones first and then its
// options in the order given (wherever they stood); it returns the process exit code.
typedef int (*SMCTL_HANDLER)(int argc, wchar_t** argv);

struct SMCTL_COMMAND {
    const wchar_t* name;
    SMCTL_HANDLER handler;
    const wchar_t* synopsis;        // arguments, one line
    const wchar_t* summary;         // what it does, one line
    const wchar_t* details;         // options and exit codes, lines of help (may be NULL)
    const wchar_t* valueOptions;    // options that take a value, space-separated and ended by one
    const wchar_t* flagOptions;     // options without a value, likewise
};

// Text on standard output: UTF-16 to a console, UTF-8 to a file or a pipe; "\n" ends a line.
void Smctl_Print(const wchar_t* format, ...);
// "smctl: <what went wrong>; <what to do>" on standard error (the format holds both parts).
void Smctl_Error(const wchar_t* format, ...);
// The usage error of a command: its synopsis and the hint to its help on standard error; 2.
int  Smctl_Usage(const wchar_t* command, const wchar_t* problem);

// A whole decimal number (optionally signed, "0x" hexadecimal only when fHex) within
// [minimum, maximum]; no octal, no wrap, nothing after it.
bool Smctl_ParseNumber(const wchar_t* s, long long minimum, long long maximum, long long* pValue, bool fHex = false);
// A number for a command's field, with the usage error when it does not parse or is out of range.
bool Smctl_Number(const wchar_t* command, const wchar_t* what, const wchar_t* s, long long minimum, long long maximum,
                  long long* pValue, bool fHex = false);

// Every file argument is taken relative to the current folder, as any command-line tool does.
std::wstring Smctl_FullPath(const wchar_t* path);

// What a file holds, from its first bytes: for the commands that inspect files without writing.
enum SMCTL_ENCODING {
    SMCTL_ENC_MISSING,
    SMCTL_ENC_FOLDER,
    SMCTL_ENC_UNREADABLE,
    SMCTL_ENC_EMPTY,
    SMCTL_ENC_UTF16LE,          // FF FE
    SMCTL_ENC_UTF16BE,          // FE FF
    SMCTL_ENC_UTF16LE_NOBOM,    // zero high bytes, no mark
    SMCTL_ENC_UTF8_BOM,         // EF BB BF
    SMCTL_ENC_ASCII,            // 7-bit text only
    SMCTL_ENC_UTF8,             // valid UTF-8 with characters above 7 bits, no mark
    SMCTL_ENC_BINARY,           // none of these
};
SMCTL_ENCODING Smctl_ReadFile(LPCWSTR pszPath, std::string* pBytes);
// The bytes as text, for the encodings above that are text; false for the others.
bool Smctl_DecodeText(SMCTL_ENCODING enc, const std::string& bytes, std::wstring* pText);
// The lines of a text, each without its CR LF or LF; the first line is number 1.
std::vector<std::wstring> Smctl_Lines(const std::wstring& text);
LPCWSTR Smctl_EncodingName(SMCTL_ENCODING enc);
