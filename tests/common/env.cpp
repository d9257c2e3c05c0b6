#include "smtest.h"
#include <algorithm>

std::string SmNarrow(const std::wstring& s)
{
    if (s.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), NULL, 0, NULL, NULL);
    std::string out((size_t)cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], cb, NULL, NULL);
    return out;
}

std::vector<std::string> SmSplitLines(const std::vector<BYTE>& data)
{
    std::string text(data.begin(), data.end());
    std::vector<std::string> lines;
    for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(text.substr(pos, end - pos));
    return lines;
}

std::wstring SmTestDir()
{
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    WCHAR* slash = wcsrchr(path, L'\\');
    if (slash)
        slash[1] = 0;
    return path;
}

std::wstring SmProgramPath()
{
    return SmTestDir() + L"StatusMonitor.exe";
}

std::wstring SmCopyProgram(const std::wstring& baseName)
{
    std::wstring target = SmTestDir() + baseName + L".exe";
    CopyFileW(SmProgramPath().c_str(), target.c_str(), FALSE);
    return target;
}

std::wstring SmSharedDocuments()
{
    std::vector<BYTE> data;
    DWORD type = 0;
    if (!SmRegReadString(HKEY_LOCAL_MACHINE, L"software\\microsoft\\windows\\currentversion\\explorer\\shell folders",
                         L"Common Documents", &data, &type))
        return std::wstring();
    data.resize(data.size() + 2, 0);
    std::wstring dir(reinterpret_cast<const wchar_t*>(data.data()));
    if (!dir.empty() && dir.back() != L'\\')
        dir += L'\\';
    return dir;
}

std::wstring SmStatusIniPath()
{
    return SmSharedDocuments() + L"StatusMonitorV3.ini";
}

std::wstring SmTempDir(const std::wstring& name)
{
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"smtest_" + name;
    // Empty it if it exists from an earlier run.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((dir + L"\\" + fd.cFileName).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    CreateDirectoryW(dir.c_str(), NULL);
    return dir + L"\\";
}

bool SmContains(const std::vector<std::string>& lines, const std::string& text)
{
    return SmCount(lines, text) > 0;
}

int SmCount(const std::vector<std::string>& lines, const std::string& text)
{
    return (int)std::count_if(lines.begin(), lines.end(),
                              [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

int SmIndexOf(const std::vector<std::string>& lines, const std::string& exact, int from)
{
    for (size_t i = (size_t)(from < 0 ? 0 : from); i < lines.size(); i++) {
        if (lines[i] == exact)
            return (int)i;
    }
    return -1;
}

bool SmRegReadString(HKEY root, const std::wstring& key, const std::wstring& value,
                     std::vector<BYTE>* pData, DWORD* pType)
{
    HKEY h = NULL;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return false;
    DWORD cb = 0;
    DWORD type = 0;
    bool ok = RegQueryValueExW(h, value.c_str(), NULL, &type, NULL, &cb) == ERROR_SUCCESS;
    if (ok) {
        pData->assign(cb, 0);
        ok = RegQueryValueExW(h, value.c_str(), NULL, &type, pData->data(), &cb) == ERROR_SUCCESS;
        pData->resize(cb);
        if (pType)
            *pType = type;
    }
    RegCloseKey(h);
    return ok;
}

bool SmRegReadDword(HKEY root, const std::wstring& key, const std::wstring& value, DWORD* pValue)
{
    std::vector<BYTE> data;
    DWORD type = 0;
    if (!SmRegReadString(root, key, value, &data, &type) || type != REG_DWORD || data.size() != 4)
        return false;
    memcpy(pValue, data.data(), 4);
    return true;
}

bool SmRegValueExists(HKEY root, const std::wstring& key, const std::wstring& value)
{
    std::vector<BYTE> data;
    return SmRegReadString(root, key, value, &data, NULL);
}

void SmRegDeleteTree(HKEY root, const std::wstring& key)
{
    RegDeleteTreeW(root, key.c_str());
}

void SmRegDeleteValue(HKEY root, const std::wstring& key, const std::wstring& value)
{
    HKEY h = NULL;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
        RegDeleteValueW(h, value.c_str());
        RegCloseKey(h);
    }
}

void SmSetAppVersion(const std::wstring& exeName, const std::wstring& version)
{
    std::wstring key = L"Software\\Wine\\AppDefaults\\" + exeName;
    if (version.empty()) {
        SmRegDeleteValue(HKEY_CURRENT_USER, key, L"Version");
        return;
    }
    HKEY h = NULL;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &h, NULL) == ERROR_SUCCESS) {
        RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       (DWORD)((version.size() + 1) * sizeof(WCHAR)));
        RegCloseKey(h);
    }
}

std::vector<BYTE> SmReadFile(const std::wstring& path)
{
    std::vector<BYTE> data;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    DWORD cb = GetFileSize(h, NULL);
    if (cb != INVALID_FILE_SIZE) {
        data.resize(cb);
        DWORD cbRead = 0;
        ReadFile(h, data.data(), cb, &cbRead, NULL);
        data.resize(cbRead);
    }
    CloseHandle(h);
    return data;
}

bool SmWriteFile(const std::wstring& path, const void* data, size_t cb)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD cbWritten = 0;
    bool ok = WriteFile(h, data, (DWORD)cb, &cbWritten, NULL) && cbWritten == cb;
    CloseHandle(h);
    return ok;
}

HWND SmWaitForWindow(LPCWSTR className, LPCWSTR title, DWORD msTimeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND h = FindWindowW(className, title);
        if (h || GetTickCount() - start >= msTimeout)
            return h;
        Sleep(20);
    }
}

bool SmWaitForNoWindow(LPCWSTR className, LPCWSTR title, DWORD msTimeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (!FindWindowW(className, title))
            return true;
        if (GetTickCount() - start >= msTimeout)
            return false;
        Sleep(20);
    }
}
