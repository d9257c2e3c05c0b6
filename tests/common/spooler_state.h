// The test-double spooler (tests/spooler, loaded as winspool.drv) seen from a test: a fresh
// state folder, its printers, jobs and failure switch set up, and what the double recorded read
// back. Every access holds the double's own cross-process lock.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "tests/spooler/spooler_format.h"

class SmSpooler {
public:
    // A fresh, empty state folder under the temporary directory (smtest_spooler_<name>). With
    // setEnv, SM_SPOOLER_DIR names it in this process, so that the double in this process and in
    // every child started from now on uses it; the destructor puts the variable back as it was.
    explicit SmSpooler(const std::wstring& name, bool setEnv = true);
    ~SmSpooler();
    SmSpooler(const SmSpooler&) = delete;
    SmSpooler& operator=(const SmSpooler&) = delete;

    const std::wstring& Dir() const { return m_dir; }

    // Set-up. Attributes: PRINTER_ATTRIBUTE_* (0x400 work offline). Status: PRINTER_STATUS_*.
    void AddTestPrinter(const std::wstring& name, const std::wstring& port = L"USB001", DWORD attributes = 0,
                    DWORD status = 0);
    void UpdatePrinter(const spd::Printer& printer);            // replaces the printer of that name (or adds it)
    void AddTestJob(const std::wstring& printer, DWORD id, const std::wstring& document, DWORD status = 0);
    void ClearJobs();
    // Makes calls of one function fail with the error (from: 0 every call, n the n-th and later).
    void SetFail(const std::string& function, DWORD error = ERROR_GEN_FAILURE, DWORD from = 0);
    void ClearFail();
    // Every WritePrinter takes at most cb bytes and reports that count (a short write, not a failure).
    void SetShortWrite(DWORD cb);
    // Each of the next `calls` EnumJobsW calls adds a job "Grown" to its printer's queue after answering.
    void SetQueueGrowth(DWORD calls);
    // The caller becomes a standard user: administration refused, use rights (and `granted`) given.
    void SetStandardUser(DWORD granted = 0);
    void ClearCalls();

    // What the double holds and recorded.
    std::vector<spd::Printer> Printers() const;
    bool FindPrinter(const std::wstring& name, spd::Printer* pPrinter) const;
    DWORD PrinterStatus(const std::wstring& name) const;    // 0xFFFFFFFF when there is no such printer
    std::vector<spd::Job> Jobs() const;
    std::vector<spd::DataValue> DataValues() const;         // each SetPrinterDataW that succeeded, in order
    std::vector<spd::RawJob> RawJobs() const;
    std::vector<spd::Call> Calls() const;                   // the whole log, in order
    std::vector<spd::Call> Calls(const std::string& function) const;
    std::vector<std::string> CallLines() const;             // the raw log lines (for failure messages)
    // Waits until the log holds at least count calls of the function.
    bool WaitForCalls(const std::string& function, size_t count, DWORD msTimeout) const;

    // True when this process's winspool.drv is the double (its marker export is present).
    static bool DoubleLoaded();

private:
    std::wstring m_dir;
    bool m_setEnv;
    bool m_hadPrevious;
    std::wstring m_previous;
};

// Every log line joined by newlines, for an assertion's message.
std::string SmDescribeCalls(const SmSpooler& spooler);
