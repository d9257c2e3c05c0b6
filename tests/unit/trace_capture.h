// In-process tests: switches the trace facility on, with file output, for the life of the
// object, and reads back the lines written.
#pragma once
#include "util/trace.h"
#include "smtest.h"
#include <string>
#include <vector>

class TraceCapture {
public:
    explicit TraceCapture(const wchar_t* name, DWORD threshold = TRACE_LEVEL_INFO, LONG channel = 1,
                          int switchIndex = 1, const wchar_t* prefix = L"", const wchar_t* logPath = NULL)
    {
        m_path = logPath ? std::wstring(logPath) : SmTempDir(name) + L"trace.log";
        DeleteFileW(m_path.c_str());
        TRACE_ResetCounters();
        TRACE_SETTINGS s;
        TRACE_GetDefaultSettings(&s);
        s.threshold = threshold;
        s.activeChannel = channel;
        if (switchIndex >= 1 && switchIndex <= TRACE_CHANNELS)
            s.channelSwitch[switchIndex - 1] = 7;
        s.fileOutput = 1;
        lstrcpynW(s.logPath, m_path.c_str(), ARRAYSIZE(s.logPath));
        lstrcpynW(s.prefix, prefix, ARRAYSIZE(s.prefix));
        TRACE_Configure(&s);
    }
    ~TraceCapture()
    {
        TRACE_SETTINGS off;
        TRACE_GetDefaultSettings(&off);
        TRACE_Configure(&off);
        TRACE_ResetCounters();
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Lines() const { return SmSplitLines(SmReadFile(m_path)); }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};
