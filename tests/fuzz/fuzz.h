// The fuzz driver: random and mutated inputs for the program's parsers and readers, each input
// placed so that it ends against a page that cannot be touched.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

// Deterministic generator (splitmix64): one input is reproduced from the run's seed and its index.
class FuzzRng {
public:
    explicit FuzzRng(uint64_t seed) : m_state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (0 when n is 0).
    size_t Below(size_t n) { return n ? (size_t)(Next() % n) : 0; }
    bool OneIn(size_t n) { return Below(n) == 0; }
    // A length that is mostly short, sometimes near the interesting bounds, sometimes long.
    size_t Length(size_t maxLen);

private:
    uint64_t m_state;
};

// A committed region whose last page is PAGE_NOACCESS: data placed with Place() ends exactly at
// that page, so a read or write one element past it faults at once.
class GuardBuffer {
public:
    explicit GuardBuffer(size_t cbUsable);
    ~GuardBuffer();
    GuardBuffer(const GuardBuffer&) = delete;
    GuardBuffer& operator=(const GuardBuffer&) = delete;

    size_t Capacity() const { return m_cbUsable; }
    // Room for count elements ending at the guard page (count is cut to the capacity).
    template <typename T> T* Place(size_t count)
    {
        if (count * sizeof(T) > m_cbUsable)
            count = m_cbUsable / sizeof(T);
        return reinterpret_cast<T*>(m_pGuard - count * sizeof(T));
    }
    // A copy of the units followed by a terminating zero, the zero being the last unit before the guard.
    template <typename T> T* PlaceString(const std::basic_string<T>& text)
    {
        T* p = Place<T>(text.size() + 1);
        size_t n = text.size() + 1 > m_cbUsable / sizeof(T) ? m_cbUsable / sizeof(T) - 1 : text.size();
        memcpy(p, text.data(), n * sizeof(T));
        p[n] = 0;
        return p;
    }

    // True when the address lies in the guard page of any live buffer.
    static bool IsGuardAddress(ULONG_PTR address);

private:
    BYTE* m_pBase;
    BYTE* m_pGuard;
    size_t m_cbUsable;
};

// A failed check: counted by the runner, printed for the first few.
void FuzzFail(const char* target, uint64_t index, const std::string& what);

// One target: fills itself from the generator and runs one input. The runner tells it the
// index, for reports, and a work folder of its own for the files it writes.
struct FuzzTarget {
    const char* name;
    const char* what;
    void (*init)(const std::wstring& workDir);
    void (*run)(FuzzRng& rng, uint64_t index);
    // The input of the current case, kept for the crash report.
    std::vector<BYTE>* (*lastInput)();
};

// Time spent writing the input files, summed over a target's pass (printed with its figures).
extern double g_FuzzFileSeconds;

extern const FuzzTarget g_FuzzFaults;
extern const FuzzTarget g_FuzzWmRecord;
extern const FuzzTarget g_FuzzCover;
extern const FuzzTarget g_FuzzCatalogue;
extern const FuzzTarget g_FuzzTrace;

// Helpers shared by the targets -------------------------------------------------------------

// Hostile text: pieces of the format at hand mixed with digits, signs, blanks, control
// characters, characters outside the ANSI code page, lone surrogates and '%' sequences.
std::wstring FuzzText(FuzzRng& rng, size_t maxLen, const std::vector<std::wstring>& tokens);
// Mutates a seed text in place: flips, deletions, duplicated runs, inserted tokens.
void FuzzMutate(FuzzRng& rng, std::wstring* text, size_t maxLen, const std::vector<std::wstring>& tokens);
// The units as bytes (little-endian), for crash reports.
void FuzzKeep(std::vector<BYTE>* pKeep, const void* data, size_t cb);
// Writes a file whole; false when it cannot be written.
bool FuzzWriteFile(const std::wstring& path, const void* data, size_t cb);
// An INI file in UTF-16 with its byte-order mark: "[section]" and one "key=value" line per pair.
bool FuzzWriteIni(const std::wstring& path, const std::wstring& section,
                  const std::vector<std::pair<std::wstring, std::wstring>>& pairs);
std::string FuzzNarrow(const std::wstring& text);
