// The status message catalogue: the 48 entries, codes without one, the 127-character cut, code 277
// with the store-job name, and a localised smen.ini in the Windows directory.
#include <gtest/gtest.h>
#include <windows.h>
#include <set>
#include <string>
#include "app/app.h"
#include "status/status.h"
#include "smtest.h"

namespace {

std::wstring Msg(DWORD code, DWORD cch = SM_CCH_MESSAGE)
{
    std::vector<WCHAR> buf(cch + 8, L'#');
    SM_GetStatusMessage(code, buf.data(), cch);
    for (size_t i = cch; i < buf.size(); i++)
        EXPECT_EQ(L'#', buf[i]) << "written past the buffer for code " << code;
    return std::wstring(buf.data());
}

// smen.ini in the Windows directory, where the profile functions look up the bare name.
class SmenIni {
public:
    explicit SmenIni(const std::wstring& body)
    {
        WCHAR dir[MAX_PATH];
        GetWindowsDirectoryW(dir, MAX_PATH);
        m_path = std::wstring(dir) + L"\\smen.ini";
        std::wstring text = L"\xFEFF[string]\r\n" + body;
        SmWriteFile(m_path, text.data(), text.size() * sizeof(WCHAR));
    }
    ~SmenIni() { DeleteFileW(m_path.c_str()); }

private:
    std::wstring m_path;
};

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        wcscpy_s(g_MsgIniPath, SM_MSG_INI_NAME);
        ZeroMemory(g_StoreName, sizeof(g_StoreName));
        WCHAR dir[MAX_PATH];
        GetWindowsDirectoryW(dir, MAX_PATH);
        DeleteFileW((std::wstring(dir) + L"\\smen.ini").c_str());
    }
    void TearDown() override { ZeroMemory(g_StoreName, sizeof(g_StoreName)); }
};

} // namespace

TEST_F(Catalogue, All48EntriesWithTheirDefaults)
{
    static const struct { DWORD code; const wchar_t* key; const wchar_t* text; } entries[] = {
        { 1, L"msg002", L"Service Call." }, { 2, L"msg003", L"No Cassette." },
        { 3, L"msg004", L"Companent Fail." }, { 5, L"msg005", L"Front cover open." },
        { 6, L"msg006", L"No Cartridge." }, { 7, L"msg007", L"No Toner." },
        { 32, L"msg008", L"Paper Empty." }, { 33, L"msg009", L"Paper Jam." },
        { 34, L"msg010", L"Paper Size Error." }, { 35, L"msg011", L"Paper Mismatch." },
        { 80, L"msg018", L"Please make the printed side face down." },
        { 112, L"msg012", L"Printer is busy for other job." },
        { 126, L"msg001", L"Power Off or Cable problem." }, { 129, L"msg014", L"Pause..." },
        { 130, L"msg013", L"Warm up..." }, { 133, L"msg015", L"Sleep..." },
        { 134, L"msg016", L"Memory is full." }, { 135, L"msg017", L"Toner low." },
        { 136, L"msg035", L"Toner empty." }, { 256, L"msg019", L"MFP error." },
        { 257, L"msg020", L"Duplex modul error." }, { 258, L"msg021", L"Printer module Error." },
        { 259, L"msg022", L"No fuser." }, { 260, L"msg023", L"Paper jam." }, { 261, L"msg024", L"Paper jam." },
        { 262, L"msg025", L"Paper jam." }, { 263, L"msg026", L"Paper jam ." }, { 264, L"msg027", L"Paper jam." },
        { 265, L"msg028", L"Rear cover open." }, { 266, L"msg029", L"Duplex module rear cover open." },
        { 267, L"msg030", L"Manual tray open." }, { 268, L"msg031", L"Main tray open." },
        { 269, L"msg032", L"Manual tray paper empty." }, { 270, L"msg033", L"Main tray paper empty." },
        { 271, L"msg034", L"Fuser low." }, { 272, L"msg036", L"Main unit error." },
        { 273, L"msg037", L"Transfer roller error." }, { 274, L"msg038", L"Feed roller error." },
        { 275, L"msg039", L"MFP memory full." }, { 276, L"msg040", L"Store job fail." },
        { 277, L"msg041", L"Store job name change to ." }, { 278, L"msg042", L"Tray 2 Open." },
        { 279, L"msg043", L"Tray 2 paper empty." }, { 280, L"msg045", L"Please make the printed side face up." },
        { 281, L"msg046", L"Please make the printed side face up." },
        { 282, L"msg047", L"MFP Paper Mismatch." }, { 283, L"msg048", L"Paper jam." },
        { 65535, L"msg044", L"Unknow error." },
    };
    ASSERT_EQ(48u, ARRAYSIZE(entries));
    std::set<std::wstring> keys;
    for (const auto& e : entries) {
        EXPECT_EQ(std::wstring(e.text), Msg(e.code)) << e.code;
        keys.insert(e.key);
    }
    EXPECT_EQ(48u, keys.size());
    // The table itself: every key msg001..msg048 once, each with its code.
    std::set<std::wstring> tableKeys;
    for (const SM_CATALOGUE_ENTRY& c : g_Catalogue) {
        tableKeys.insert(c.pszKey);
        bool found = false;
        for (const auto& e : entries)
            found = found || (e.code == c.dwErrCode && wcscmp(e.key, c.pszKey) == 0);
        EXPECT_TRUE(found) << c.dwErrCode;
    }
    EXPECT_EQ(keys, tableKeys);
    EXPECT_EQ(L"msg001", *tableKeys.begin());
    EXPECT_EQ(L"msg048", *tableKeys.rbegin());
}

TEST_F(Catalogue, CodesWithoutAnEntryHaveNoText)
{
    for (DWORD code : { 0u, 4u, 8u, 48u, 117u, 118u, 131u, 132u, 65536u, 0xFFFFFFFFu })
        EXPECT_EQ(L"", Msg(code)) << code;
}

TEST_F(Catalogue, StoreNameChangedCarriesTheName)
{
    wcscpy_s(g_StoreName, L"Q3 report");
    EXPECT_EQ(L"Store job name change to Q3 report.", Msg(277));
}

TEST_F(Catalogue, TextsAreCutToTheCallersCapacity)
{
    EXPECT_EQ(L"Paper", Msg(33, 6));
    EXPECT_EQ(L"", Msg(33, 1));
    wcscpy_s(g_StoreName, L"Q3 report");
    EXPECT_EQ(L"Store job name change to Q3", Msg(277, 28));
    // A 259-character store name: the composed text is cut to 127 characters and the terminator.
    std::wstring longName(259, L'n');
    wcscpy_s(g_StoreName, longName.c_str());
    std::wstring text = Msg(277);
    EXPECT_EQ(127u, text.size());
    EXPECT_EQ(0u, text.find(L"Store job name change to nnn"));
}

TEST_F(Catalogue, LocalisedFileReplacesTheDefaults)
{
    SmenIni ini(L"msg009=Papierstau.\r\nmsg041=Auftragsname ge\u00e4ndert in\r\nmsg044=\r\n");
    EXPECT_EQ(L"Papierstau.", Msg(33));
    EXPECT_EQ(L"Front cover open.", Msg(5));           // a key the file does not hold
    wcscpy_s(g_StoreName, L"Q3");
    EXPECT_EQ(L"Auftragsname ge\u00e4ndert in Q3.", Msg(277));
    EXPECT_EQ(L"", Msg(65535));                        // present but empty
}

TEST_F(Catalogue, ALongTranslationIsCutTo127Characters)
{
    std::wstring text(200, L'x');
    text.replace(0, 5, L"Stau:");
    SmenIni ini(L"msg009=" + text + L"\r\n");
    std::wstring got = Msg(33);
    EXPECT_EQ(127u, got.size());
    EXPECT_EQ(text.substr(0, 127), got);
    // With a larger buffer it is still 127: the text is read into 128 units.
    EXPECT_EQ(127u, Msg(33, 400).size());
}
