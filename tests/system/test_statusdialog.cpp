// The status dialog of the running monitor, driven from outside as a user or the driver's side
// would: the exchange file announces fault lists, the dialog is found by its title, its controls
// are read and its buttons pressed with BM_CLICK; the test-double spooler records job control.
#include <gtest/gtest.h>
#include <initguid.h>
#include <oleacc.h>
#include <tlhelp32.h>
#include "smtest.h"
#include "spooler_state.h"
#include <winspool.h>
#include <algorithm>
#include <tuple>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t kRunKey[] = L"software\\microsoft\\windows\\currentversion\\run";
const wchar_t kTitle[] = L"MFP Status Monitor";
const wchar_t kDialogClass[] = L"#32770";
const wchar_t kSection[] = L"Printer Information";
const wchar_t kPrinter[] = L"Office MFP";
const DWORD kBlue = 0x0000FF;

std::wstring MsgIniPath()
{
    WCHAR dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\smen.ini";
}

std::wstring Text(HWND hDlg, int id)
{
    WCHAR buf[512] = {};
    SendDlgItemMessageW(hDlg, id, WM_GETTEXT, ARRAYSIZE(buf), (LPARAM)buf);
    return buf;
}

std::vector<std::wstring> Slots(HWND hDlg)
{
    std::vector<std::wstring> v;
    for (int id = 1001; id <= 1012; id++)
        v.push_back(Text(hDlg, id));
    return v;
}

HWND FocusOf(HWND hDlg)
{
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof(gti);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, NULL), &gti))
        return NULL;
    return gti.hwndFocus;
}

class StatusDialogSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_spooler.reset(new SmSpooler(L"statusdialog"));
        m_spooler->AddTestPrinter(kPrinter);
        m_spooler->AddTestJob(kPrinter, 7, L"Quarterly report");
        DeleteFileW(MsgIniPath().c_str());
        m_ini = SmStatusIniPath();
        static const BYTE bom[] = { 0xFF, 0xFE };
        ASSERT_TRUE(SmWriteFile(m_ini, bom, sizeof(bom)));
        Write(kSection, L"PrinterName", kPrinter);
        Write(L"Job Information", L"JobID", L"7");
    }
    void TearDown() override
    {
        if (m_hold != INVALID_HANDLE_VALUE)
            CloseHandle(m_hold);
        if (m_monitor) {
            if (HWND h = FindWindowW(L"StatusMonitor", kTitle))
                PostMessageW(h, WM_SM_EXIT_, 0, 0);
            if (!m_monitor->WaitExit(5000))
                m_monitor->Kill();
            m_monitor.reset();
        }
        SmRegDeleteValue(HKEY_LOCAL_MACHINE, kRunKey, L"StatusMonitor");
        DeleteFileW(MsgIniPath().c_str());
        SetEnvironmentVariableW(L"SM_TRACE", NULL);
        m_spooler.reset();
    }

    static const UINT WM_SM_EXIT_ = WM_USER + 2;
    void TwelveItemsAt(int run, int* pSilhouette96);

    void Write(const wchar_t* section, const wchar_t* key, const std::wstring& value)
    {
        ASSERT_TRUE(WritePrivateProfileStringW(section, key, value.c_str(), m_ini.c_str())) << SmNarrow(key);
    }
    int ReadInt(const wchar_t* key, int def = -99)
    {
        return (int)GetPrivateProfileIntW(kSection, key, def, m_ini.c_str());
    }

    void StartMonitor()
    {
        m_monitor.reset(new SmChild);
        ASSERT_TRUE(m_monitor->Start(SmProgramPath(), L"install"));
        m_hMain = SmWaitForWindow(L"StatusMonitor", kTitle, 10000);
        ASSERT_NE((HWND)NULL, m_hMain);
    }

    // The driver's side announces a list: "Status", a new "LastMsg", then "Message" 1027.
    void Announce(const std::wstring& status)
    {
        Write(kSection, L"Status", status);
        Write(kSection, L"LastMsg", std::to_wstring(++m_lastMsg));
        Write(kSection, L"Message", L"1027");
    }

    // The dialog after an announcement, once its texts are set (or NULL).
    HWND WaitDialog(DWORD ms = 5000)
    {
        HWND h = SmWaitForWindow(kDialogClass, kTitle, ms);
        if (h) {
            // The slots and buttons are set within the same update; give it a tick to finish.
            DWORD start = GetTickCount();
            while (!IsWindowVisible(h) && GetTickCount() - start < ms)
                Sleep(20);
            Sleep(150);
        }
        return h;
    }
    // Waits until the dialog shows the text in slot 1001 (an update has landed).
    bool WaitSlot(HWND hDlg, int id, const std::wstring& text, DWORD ms = 3000)
    {
        DWORD start = GetTickCount();
        do {
            if (Text(hDlg, id) == text)
                return true;
            Sleep(20);
        } while (GetTickCount() - start < ms);
        return false;
    }
    void Click(HWND hDlg, int id)
    {
        SendMessageW(GetDlgItem(hDlg, id), BM_CLICK, 0, 0);
    }

    std::unique_ptr<SmSpooler> m_spooler;
    std::unique_ptr<SmChild> m_monitor;
    std::wstring m_ini;
    HWND m_hMain = NULL;
    int m_lastMsg = 100;
    HANDLE m_hold = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_F(StatusDialogSystem, TitleCaptionsAndTopmost)
{
    StartMonitor();
    Announce(L"5|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    WCHAR title[64] = {};
    GetWindowTextW(hDlg, title, ARRAYSIZE(title));
    EXPECT_STREQ(kTitle, title);
    EXPECT_EQ(L"Status Message", Text(hDlg, 1118));
    EXPECT_EQ(L"Delete", Text(hDlg, 1117));
    EXPECT_EQ(L"Continue", Text(hDlg, 1119));
    EXPECT_TRUE(GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(IsWindowVisible(m_hMain)) << "the main window is shown with the dialog";

    // Localised captions, read again for every new list; a caption longer than its buffer is cut.
    std::wstring longCaption(300, L'x');
    ASSERT_TRUE(WritePrivateProfileStringW(L"string", L"group", L"Statusmeldung", MsgIniPath().c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"string", L"btn001", L"L\x00f6schen", MsgIniPath().c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"string", L"btn002", longCaption.c_str(), MsgIniPath().c_str()));
    Announce(L"6|");
    ASSERT_TRUE(WaitSlot(hDlg, 1001, L"No Cartridge."));
    EXPECT_EQ(hDlg, FindWindowW(kDialogClass, kTitle)) << "the same dialog is updated";
    EXPECT_EQ(L"Statusmeldung", Text(hDlg, 1118));
    EXPECT_EQ(L"L\x00f6schen", Text(hDlg, 1117));
    EXPECT_EQ(std::wstring(259, L'x'), Text(hDlg, 1119));
}

TEST_F(StatusDialogSystem, SlotTextsForOneToThirteenItems)
{
    StartMonitor();
    const std::wstring E;   // an empty slot
    struct Case {
        const wchar_t* status;
        std::vector<std::wstring> slots;   // 1001..1006, then 1007..1012
    };
    const Case cases[] = {
        { L"33|", { L"Paper Jam.", E, E, E, E, E, E, E, E, E, E, E } },
        // x order 257 (28), 5 (92): one left, one right.
        { L"5|257|", { L"Duplex modul error.", E, E, E, E, E, L"Front cover open.", E, E, E, E, E } },
        // 5 (92, key 101) above 257 (28, key 293) on the left; 6 (119) right.
        { L"6|257|5|", { L"Front cover open.", L"Duplex modul error.", E, E, E, E,
                         L"No Cartridge.", E, E, E, E, E } },
        // Code 265 fills two lines with the same text; 130 has no item; 112 is no code.
        { L"130|112|265|", { L"Rear cover open.", E, E, E, E, E, L"Rear cover open.", E, E, E, E, E } },
        { L"StoreName|Q3 report|277|", { L"Store job name change to Q3 report.", E, E, E, E, E,
                                          E, E, E, E, E, E } },
    };
    HWND hDlg = NULL;
    for (const Case& c : cases) {
        Announce(c.status);
        if (!hDlg)
            hDlg = WaitDialog();
        ASSERT_NE((HWND)NULL, hDlg);
        EXPECT_TRUE(WaitSlot(hDlg, 1001, c.slots[0])) << SmNarrow(c.status);
        EXPECT_EQ(c.slots, Slots(hDlg)) << SmNarrow(c.status);
    }

    // Twelve items fill every slot; a thirteenth (later in table order, though first in the
    // list) is left out.
    const std::vector<std::wstring> twelve = {
        L"Service Call.", L"No Cassette.", L"Front cover open.", L"No Cartridge.", L"No Toner.",
        L"Paper Empty.", L"Paper Jam.", L"Paper Size Error.", L"Paper Mismatch.",
        L"Please make the printed side face down.", L"Power Off or Cable problem.", L"Toner low.",
    };
    Announce(L"1|2|5|6|7|32|33|34|35|80|126|135|");
    Sleep(600);
    std::vector<std::wstring> got = Slots(hDlg);
    std::sort(got.begin(), got.end());
    std::vector<std::wstring> want = twelve;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, got);

    Announce(L"256|1|2|5|6|7|32|33|34|35|80|126|135|");
    Sleep(600);
    got = Slots(hDlg);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(want, got) << "\"MFP error.\" is the thirteenth in table order";
}

TEST_F(StatusDialogSystem, ContinueOnlyForPaperMismatchAndStoreName)
{
    StartMonitor();
    // Each list changes a slot, so that the update is seen before the buttons are checked.
    const struct { const wchar_t* status; bool shown; int slot; const wchar_t* text; } cases[] = {
        { L"35|", true, 1001, L"Paper Mismatch." },
        { L"33|", false, 1001, L"Paper Jam." },
        { L"5|35|", false, 1007, L"Front cover open." },     // only the first code counts
        { L"StoreName|A|277|", true, 1001, L"Store job name change to A." },
        { L"277|5|", true, 1007, L"Front cover open." },
    };
    HWND hDlg = NULL;
    for (const auto& c : cases) {
        Announce(c.status);
        if (!hDlg)
            hDlg = WaitDialog();
        ASSERT_NE((HWND)NULL, hDlg);
        ASSERT_TRUE(WaitSlot(hDlg, c.slot, c.text)) << SmNarrow(c.status);
        Sleep(100);
        HWND hContinue = GetDlgItem(hDlg, 1119), hDelete = GetDlgItem(hDlg, 1117);
        EXPECT_EQ(c.shown, IsWindowVisible(hContinue) != FALSE) << SmNarrow(c.status);
        EXPECT_EQ(c.shown ? hContinue : hDelete, FocusOf(hDlg)) << SmNarrow(c.status);
    }
}

TEST_F(StatusDialogSystem, ShowQelSMZeroSetsTheSpoolerButShowsNothing)
{
    Write(kSection, L"ShowQelSM", L"0");
    StartMonitor();
    Announce(L"5|");
    ASSERT_TRUE(m_spooler->WaitForCalls("SetPrinterW", 1, 3000)) << SmDescribeCalls(*m_spooler);
    EXPECT_EQ((DWORD)PRINTER_STATUS_DOOR_OPEN, m_spooler->PrinterStatus(kPrinter));
    EXPECT_EQ((HWND)NULL, WaitDialog(800));

    // The list was not taken as shown: allowing the dialog again shows it for the same list.
    Write(kSection, L"ShowQelSM", L"1");
    Announce(L"5|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    EXPECT_EQ(L"Front cover open.", Text(hDlg, 1001));
}

TEST_F(StatusDialogSystem, DeleteCancelsTheJobAndResets)
{
    StartMonitor();
    Announce(L"33|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    ASSERT_TRUE(m_spooler->WaitForCalls("SetPrinterW", 1, 3000));
    EXPECT_EQ((DWORD)PRINTER_STATUS_PAPER_JAM, m_spooler->PrinterStatus(kPrinter));

    Click(hDlg, 1117);
    EXPECT_TRUE(SmWaitForNoWindow(kDialogClass, kTitle, 3000));
    std::vector<spd::Call> jobs = m_spooler->Calls("SetJobW");
    ASSERT_EQ(1u, jobs.size()) << SmDescribeCalls(*m_spooler);
    EXPECT_EQ(0, ReadInt(L"Message"));
    EXPECT_EQ(0u, m_spooler->PrinterStatus(kPrinter));
    bool gone = true;
    for (const spd::Job& j : m_spooler->Jobs())
        gone = gone && j.id != 7;
    EXPECT_TRUE(gone) << "job 7 deleted: " << SmDescribeCalls(*m_spooler);
    EXPECT_FALSE(IsWindowVisible(m_hMain));

    // After a reset the same list shows the dialog again.
    Announce(L"33|");
    EXPECT_NE((HWND)NULL, WaitDialog());
}

// A user who may not administer the printer: the status word is refused once and left alone,
// the dialog follows the lists, and Delete cancels the user's job with use rights.
TEST_F(StatusDialogSystem, AStandardUserGetsTheDialogAndDeleteWithoutTheStatusWord)
{
    m_spooler->SetStandardUser();
    SetEnvironmentVariableW(L"SM_TRACE", L"threshold=1");
    StartMonitor();
    Announce(L"33|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    Announce(L"5|");
    EXPECT_TRUE(WaitSlot(hDlg, 1001, L"Front cover open."));
    EXPECT_EQ(1, SmCount(m_monitor->Lines(), "no right to set the status word"));
    EXPECT_TRUE(m_spooler->Calls("SetPrinterW").empty());
    Click(hDlg, 1117);
    EXPECT_TRUE(SmWaitForNoWindow(kDialogClass, kTitle, 3000));
    EXPECT_TRUE(m_spooler->Jobs().empty()) << SmDescribeCalls(*m_spooler);
}

TEST_F(StatusDialogSystem, ContinueWritesTheFlagAndCloses)
{
    StartMonitor();
    Announce(L"35|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    Click(hDlg, 1119);
    EXPECT_TRUE(SmWaitForNoWindow(kDialogClass, kTitle, 3000));
    EXPECT_EQ(1, ReadInt(L"ContinuePrint"));
    EXPECT_EQ(1027, ReadInt(L"Message")) << "Continue does not reset the monitor";
    EXPECT_TRUE(m_spooler->Calls("SetJobW").empty());

    // Closed without reset: the same list again brings nothing back; another list does.
    Announce(L"35|");
    EXPECT_EQ((HWND)NULL, WaitDialog(800));
    Announce(L"277|");
    EXPECT_NE((HWND)NULL, WaitDialog());
}

TEST_F(StatusDialogSystem, ContinueWithAnExchangeFileThatCannotBeWritten)
{
    StartMonitor();
    Announce(L"35|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);

    // Writes fail while another process holds the file open without write sharing (as root the
    // read-only attribute would not stop them). Without a 1 in it the dialog stays.
    m_hold = CreateFileW(m_ini.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, m_hold);
    Click(hDlg, 1119);
    Sleep(300);
    EXPECT_TRUE(IsWindow(hDlg) && IsWindowVisible(hDlg)) << "no 1 was written: the dialog stays";
    CloseHandle(m_hold);
    m_hold = INVALID_HANDLE_VALUE;
    EXPECT_NE(1, ReadInt(L"ContinuePrint"));

    // With the 1 already there, the failed write still closes the dialog.
    Write(kSection, L"ContinuePrint", L"1");
    m_hold = CreateFileW(m_ini.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, m_hold);
    Click(hDlg, 1119);
    EXPECT_TRUE(SmWaitForNoWindow(kDialogClass, kTitle, 3000));
}

TEST_F(StatusDialogSystem, CloseMessageClosesWithoutReset)
{
    StartMonitor();
    Announce(L"5|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    ASSERT_TRUE(m_spooler->WaitForCalls("SetPrinterW", 1, 3000));
    SendMessageW(hDlg, WM_CLOSE, 0, 0);
    EXPECT_TRUE(SmWaitForNoWindow(kDialogClass, kTitle, 3000));
    EXPECT_EQ(1027, ReadInt(L"Message"));
    EXPECT_EQ((DWORD)PRINTER_STATUS_DOOR_OPEN, m_spooler->PrinterStatus(kPrinter));
    EXPECT_TRUE(m_monitor->WaitExit(200) == false) << "the monitor stays resident";
}

namespace {

// Typed and clicked input, posted to the monitor's queue where real input arrives.
void PostKey(HWND h, UINT vk)
{
    PostMessageW(h, WM_KEYDOWN, vk, 1);
    PostMessageW(h, WM_KEYUP, vk, 0xC0000001);
}

void PostClick(HWND h)
{
    RECT rc;
    GetClientRect(h, &rc);
    LPARAM pt = MAKELPARAM(rc.right / 2, rc.bottom / 2);
    PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, pt);
    PostMessageW(h, WM_LBUTTONUP, 0, pt);
}

// The button once it holds the focus (the show has got that far), or NULL.
HWND WaitFocus(HWND hDlg, int id, DWORD ms = 3000)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND h = GetDlgItem(hDlg, id);
        if (h && FocusOf(hDlg) == h)
            return h;
        if (GetTickCount() - start >= ms)
            return NULL;
        Sleep(5);
    }
}

}  // namespace

TEST_F(StatusDialogSystem, KeysRightAfterShowingOrUpdatingPressNothing)
{
    StartMonitor();
    // An update starts the time again; a click is taken at once.
    Announce(L"33|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    Sleep(1000);
    Announce(L"35|");
    ASSERT_TRUE(WaitSlot(hDlg, 1001, L"Paper Mismatch."));
    HWND hContinue = WaitFocus(hDlg, 1119);
    ASSERT_NE((HWND)NULL, hContinue);
    PostKey(hContinue, VK_SPACE);
    Sleep(300);
    EXPECT_TRUE(IsWindow(hDlg) && IsWindowVisible(hDlg)) << "a space typed at once must not continue";
    EXPECT_NE(1, ReadInt(L"ContinuePrint"));
    PostClick(hContinue);
    EXPECT_TRUE(SmWaitForNoWindow(kDialogClass, kTitle, 3000));
    EXPECT_EQ(1, ReadInt(L"ContinuePrint"));

    // A new dialog: a space at once deletes nothing, and the dialog keeps the foreground, the
    // focus and its place on top; once the time is over, the same key presses Delete.
    Announce(L"33|");
    hDlg = SmWaitForWindow(kDialogClass, kTitle, 5000);
    ASSERT_NE((HWND)NULL, hDlg);
    HWND hDelete = WaitFocus(hDlg, 1117);
    ASSERT_NE((HWND)NULL, hDelete);
    DWORD shown = GetTickCount();
    PostKey(hDelete, VK_SPACE);
    Sleep(300);
    EXPECT_TRUE(IsWindow(hDlg) && IsWindowVisible(hDlg)) << "a space typed at once must not delete the job";
    EXPECT_TRUE(m_spooler->Calls("SetJobW").empty()) << SmDescribeCalls(*m_spooler);
    EXPECT_EQ(GetForegroundWindow(), hDlg);
    EXPECT_EQ(hDelete, FocusOf(hDlg));
    EXPECT_TRUE(GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST);

    while (GetTickCount() - shown < 1000)
        Sleep(20);
    PostKey(hDelete, VK_SPACE);
    EXPECT_TRUE(SmWaitForNoWindow(kDialogClass, kTitle, 3000));
    EXPECT_EQ(1u, m_spooler->Calls("SetJobW").size()) << SmDescribeCalls(*m_spooler);
}

// ---------------------------------------------------------------------------------------------
// Pixels of the monitor's dialog.

namespace {

struct Geometry { int xPicture, yUpper, yLower; };

Geometry Geo(HWND hDlg, int size = 170)
{
    RECT rc;
    GetClientRect(hDlg, &rc);
    int half = rc.bottom / 2;
    return { (rc.right - size) / 2, (half - size) / 2, half + (half - size) / 2 };
}

RECT SlotRect(HWND hDlg, int id)
{
    RECT rc = {};
    GetWindowRect(GetDlgItem(hDlg, id), &rc);
    MapWindowPoints(NULL, hDlg, (POINT*)&rc, 2);
    return rc;
}

int CountBlue(const SmImage& img, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            n += img.At(x, y) == kBlue;
    return n;
}

// Pixels of a picture square that are the bare background (the printer missing).
int BackgroundPixels(const SmImage& img, int x0, int y0)
{
    DWORD back = img.At(1, 1);
    int n = 0;
    for (int y = 0; y < 170; y++)
        for (int x = 0; x < 170; x++)
            n += img.At(x0 + x, y0 + y) == back;
    return n;
}

void ExpectFrameAndDot(const SmImage& img, HWND hDlg, int slot, int nX, int nY, bool lower)
{
    RECT rc = SlotRect(hDlg, slot);
    int ym = (rc.top + rc.bottom) / 2;
    EXPECT_EQ(kBlue, img.At(rc.left - 1, ym)) << slot;
    EXPECT_EQ(kBlue, img.At(rc.right, ym)) << slot;
    EXPECT_EQ(kBlue, img.At((rc.left + rc.right) / 2, rc.top - 2)) << slot;
    Geometry g = Geo(hDlg);
    int cx = g.xPicture + nX + 4, cy = (lower ? g.yLower : g.yUpper) + nY + 4;
    EXPECT_EQ(kBlue, img.At(cx, cy)) << "dot centre, slot " << slot;
    EXPECT_EQ(kBlue, img.At(cx - 2, cy)) << slot;
    EXPECT_EQ(kBlue, img.At(cx + 2, cy)) << slot;
    int xEdge = slot < 1007 ? g.xPicture : g.xPicture + 170;
    EXPECT_EQ(kBlue, img.At(xEdge, cy)) << "leader line corner, slot " << slot;
}

}  // namespace

TEST_F(StatusDialogSystem, PixelsFramesDotsAndRepaint)
{
    StartMonitor();
    Announce(L"6|5|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    ASSERT_TRUE(WaitSlot(hDlg, 1007, L"No Cartridge."));   // the last line drawn
    Sleep(100);
    SmImage img;
    ASSERT_TRUE(SmCaptureClient(hDlg, &img));
    Geometry g = Geo(hDlg);
    ExpectFrameAndDot(img, hDlg, 1001, 92, 101, false);    // code 5
    ExpectFrameAndDot(img, hDlg, 1007, 119, 90, false);    // code 6
    EXPECT_LT(BackgroundPixels(img, g.xPicture, g.yUpper), 170 * 170 / 2);
    EXPECT_LT(BackgroundPixels(img, g.xPicture, g.yLower), 170 * 170 / 2);

    // Covered by another window and uncovered: everything is back after the repaint.
    RECT rcWin;
    GetWindowRect(hDlg, &rcWin);
    HWND hCover = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"", WS_POPUP | WS_VISIBLE | SS_BLACKRECT,
                                  rcWin.left, rcWin.top, rcWin.right - rcWin.left,
                                  rcWin.bottom - rcWin.top, NULL, NULL, NULL, NULL);
    ASSERT_NE((HWND)NULL, hCover);
    UpdateWindow(hCover);
    Sleep(100);
    DestroyWindow(hCover);
    RedrawWindow(hDlg, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Sleep(300);
    ASSERT_TRUE(SmCaptureClient(hDlg, &img));
    ExpectFrameAndDot(img, hDlg, 1001, 92, 101, false);
    ExpectFrameAndDot(img, hDlg, 1007, 119, 90, false);
    EXPECT_LT(BackgroundPixels(img, g.xPicture, g.yUpper), 170 * 170 / 2);
    EXPECT_LT(BackgroundPixels(img, g.xPicture, g.yLower), 170 * 170 / 2);

    // Items without markers: frames only; codes without items: no blue at all, both pictures.
    Announce(L"33|7|");
    ASSERT_TRUE(WaitSlot(hDlg, 1007, L"Paper Jam."));
    Sleep(150);
    ASSERT_TRUE(SmCaptureClient(hDlg, &img));
    RECT l = SlotRect(hDlg, 1001), r = SlotRect(hDlg, 1007);
    EXPECT_EQ(kBlue, img.At(l.right, (l.top + l.bottom) / 2));
    EXPECT_EQ(0, CountBlue(img, l.right + 3, 0, r.left - 3, img.height));
    Announce(L"130|");
    ASSERT_TRUE(WaitSlot(hDlg, 1001, L""));
    Sleep(150);
    ASSERT_TRUE(SmCaptureClient(hDlg, &img));
    EXPECT_EQ(0, CountBlue(img, 0, 0, img.width, img.height));
    EXPECT_LT(BackgroundPixels(img, g.xPicture, g.yUpper), 170 * 170 / 2);
    EXPECT_LT(BackgroundPixels(img, g.xPicture, g.yLower), 170 * 170 / 2);
}

TEST_F(StatusDialogSystem, AlternativeLowerPictureForDuplexFaults)
{
    SetEnvironmentVariableW(L"SM_TRACE", L"threshold=1");
    StartMonitor();
    // Draw calls of one update: the block of SM_ShowPrinterStatus in the debugger lines.
    auto drawsOfUpdate = [&](const std::wstring& status, const std::string& text) {
        size_t before = m_monitor->Lines().size();
        Announce(status);
        HWND hDlg = WaitDialog();
        EXPECT_NE((HWND)NULL, hDlg);
        if (hDlg) {
            EXPECT_TRUE(WaitSlot(hDlg, 1001, std::wstring(text.begin(), text.end())));
        }
        std::vector<std::string> lines = m_monitor->Lines();
        int draws = -1;
        for (size_t i = before; i < lines.size(); i++) {
            if (lines[i].find("SM_ShowPrinterStatus in") != std::string::npos) {
                draws = 0;
            } else if (draws >= 0 && lines[i].find("SM_ShowPrinterStatus out") != std::string::npos) {
                break;
            } else if (draws >= 0 && lines[i].find("SM_DrawImage in") != std::string::npos) {
                draws++;
            }
        }
        return draws;
    };
    EXPECT_EQ(3, drawsOfUpdate(L"257|", "Duplex modul error."));
    EXPECT_EQ(2, drawsOfUpdate(L"5|", "Front cover open."));
    EXPECT_EQ(3, drawsOfUpdate(L"266|", "Duplex module rear cover open."));
}

namespace {

double Luminance(DWORD rgb)
{
    auto lin = [](int v) {
        double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin((rgb >> 16) & 0xFF) + 0.7152 * lin((rgb >> 8) & 0xFF) + 0.0722 * lin(rgb & 0xFF);
}

double Contrast(DWORD a, DWORD b)
{
    double la = Luminance(a) + 0.05, lb = Luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

}  // namespace

// A full dialog as the user sees it at 96 to 192 dpi, or after a DPI change to 192 (run 0): every
// dot drawn, and the artwork about each dot light enough on the screen (after the masked blit) to
// set the blue dot off by 3 : 1 at least; the lower picture's silhouette scaled from the one at
// 96 dpi, the logo scaled and whole.
void StatusDialogSystem::TwelveItemsAt(int run, int* pSilhouette96)
{
    SmScopedDpi scopedDpi(run ? run : 96);
    StartMonitor();
    Announce(L"5|6|80|257|261|262|263|264|265|266|278|");
    HWND hDlg = WaitDialog();
    ASSERT_NE((HWND)NULL, hDlg);
    ASSERT_TRUE(WaitSlot(hDlg, 1012, L"Tray 2 Open."));   // the last line drawn
    if (!run)   // no rectangle: a pointer does not cross processes
        PostMessageW(hDlg, WM_DPICHANGED, MAKEWPARAM(192, 192), 0);
    const int dpi = run ? run : 192, size = MulDiv(170, dpi, 96), ring = MulDiv(4, dpi, 96) + 2 * dpi / 96;
    Sleep(300);
    SmImage img;
    ASSERT_TRUE(SmCaptureWindow(hDlg, &img));
    std::wstring dir = SmTestDir() + L"screenshots\\";
    CreateDirectoryW(dir.c_str(), NULL);
    EXPECT_TRUE(SmSaveImageBmp(img, dir + L"status_twelve" + (run == 96 ? L"" : L"_" + std::to_wstring(run)) + L".bmp"));

    ASSERT_TRUE(SmCaptureClient(hDlg, &img));
    for (int id = 1001; id <= 1012; id++)
        EXPECT_NE(L"", Text(hDlg, id)) << id;
    const struct { int nX, nY; bool lower; } dots[] = {
        { 92, 101, false }, { 119, 90, false }, { 94, 83, false }, { 94, 41, false },
        { 94, 58, false }, { 91, 137, false }, { 28, 113, true }, { 36, 132, true },
        { 76, 78, true }, { 76, 100, true }, { 58, 88, true }, { 74, 80, true },
    };
    const double blue = Luminance(kBlue);
    Geometry g = Geo(hDlg, size);
    for (const auto& d : dots) {
        int cx = g.xPicture + MulDiv(d.nX + 4, dpi, 96), cy = (d.lower ? g.yLower : g.yUpper) + MulDiv(d.nY + 4, dpi, 96);
        EXPECT_EQ(kBlue, img.At(cx, cy)) << d.nX << "," << d.nY << " run " << run;
        double worst = 21;
        for (int y = cy - ring; y <= cy + ring; y++) {
            for (int x = cx - ring; x <= cx + ring; x++) {
                if (img.At(x, y) != kBlue && hypot(x + 0.5 - cx, y + 0.5 - cy) <= ring)
                    worst = std::min(worst, (Luminance(img.At(x, y)) + 0.05) / (blue + 0.05));
            }
        }
        EXPECT_GE(worst, 3.0) << "about the dot at " << d.nX << "," << d.nY << " run " << run;
    }
    // Rows of the lower picture that hold the printer; every row of the logo holds some of it.
    RECT logo = SlotRect(hDlg, 65535);
    int first = -1, last = -1;
    for (int y = g.yLower; y < g.yLower + size && y < logo.top; y++)
        for (int x = g.xPicture + size / 4; x < g.xPicture + size * 3 / 4; x++)
            if (img.At(x, y) != img.At(1, 1))
                first = first < 0 ? y : first, last = y;
    *pSilhouette96 = *pSilhouette96 ? *pSilhouette96 : last - first + 1;
    EXPECT_NEAR(*pSilhouette96 * dpi / 96.0, last - first + 1, 2) << "run " << run;
    EXPECT_NEAR(80 * dpi / 96.0, logo.right - logo.left, 2) << "run " << run;
    for (int y = logo.top, ink = 1; y < logo.bottom && ink; y++) {
        ink = 0;
        for (int x = logo.left; x < logo.right; x++)
            ink += img.At(x, y) != img.At(1, 1);
        EXPECT_GT(ink, 0) << "logo row " << y - logo.top << " painted over, run " << run;
    }
}

TEST_F(StatusDialogSystem, TwelveItemsEveryDotOnLightArtwork)
{
    int silhouette96 = 0;
    for (int run : { 96, 120, 144, 192, 0 }) {
        TwelveItemsAt(run, &silhouette96);
        TearDown();     // a new monitor for the next DPI
        SetUp();
    }
}

namespace {

// Events of the monitor as an assistive tool hears them, out of process.
DWORD g_eventPid;
int g_alerts;
std::vector<int> g_renamed;     // control ids

void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG idObject, LONG, DWORD, DWORD)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    g_alerts += pid == g_eventPid && event == EVENT_SYSTEM_ALERT;
    if (pid == g_eventPid && event == EVENT_OBJECT_NAMECHANGE && idObject == OBJID_CLIENT)
        g_renamed.push_back(GetDlgCtrlID(hwnd));
}

// What a screen reader meets among the message slots and the logo: items shown with a name.
std::vector<std::wstring> NamedItems(HWND hDlg)
{
    std::vector<std::wstring> named;
    for (int id : { 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 65535 }) {
        IAccessible* acc = NULL;
        VARIANT self = {}, state = {};
        self.vt = VT_I4;    // CHILDID_SELF
        BSTR name = NULL;
        if (SUCCEEDED(AccessibleObjectFromWindow(GetDlgItem(hDlg, id), OBJID_CLIENT, IID_IAccessible, (void**)&acc))
            && SUCCEEDED(acc->get_accState(self, &state)) && !(state.lVal & STATE_SYSTEM_INVISIBLE)
            && acc->get_accName(self, &name) == S_OK && name && name[0])
            named.push_back(name);
        SysFreeString(name);
        if (acc)
            acc->Release();
    }
    return named;
}

}  // namespace

// The manifest's entries are in both programs, the monitor runs on the version-6 controls, and
// a reader meets only the faults shown and hears one alert per new list and each line renamed.
TEST_F(StatusDialogSystem, ManifestVersionSixControlsAndAssistiveTools)
{
    for (const wchar_t* exe : { L"StatusMonitor.exe", L"smctl.exe" }) {
        HMODULE h = LoadLibraryExW((SmTestDir() + exe).c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        HRSRC r = h ? FindResourceW(h, MAKEINTRESOURCEW(1), RT_MANIFEST) : NULL;
        ASSERT_NE((HRSRC)NULL, r) << SmNarrow(exe);
        std::string xml((const char*)LockResource(LoadResource(h, r)), SizeofResource(h, r));
        for (const char* entry : { "\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", ">true/pm<",
                                   ">PerMonitorV2, PerMonitor<", "level=\"asInvoker\"", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                                   "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                                   "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a" })
            EXPECT_NE(std::string::npos, xml.find(entry)) << SmNarrow(exe) << " lacks " << entry;
        EXPECT_EQ(std::string::npos, xml.find("activeCodePage")) << SmNarrow(exe);
        FreeLibrary(h);
    }

    CoInitialize(NULL);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_OBJECT_NAMECHANGE, NULL, OnWinEvent, 0, 0,
                                         WINEVENT_OUTOFCONTEXT);
    ASSERT_NE((HWINEVENTHOOK)NULL, hook);
    StartMonitor();
    g_eventPid = m_monitor->Pid();
    const struct { const wchar_t* status; std::vector<std::wstring> named; std::vector<int> renamed; } cases[] = {
        { L"6|5|", { L"Front cover open.", L"No Cartridge." }, { 1001, 1007 } },
        { L"6|33|", { L"Paper Jam.", L"No Cartridge." }, { 1001 } },
        { L"33|", { L"Paper Jam." }, { 1007 } },      // the right line emptied and hidden
    };
    HWND hDlg = NULL;
    for (const auto& c : cases) {
        g_alerts = 0;
        g_renamed.clear();
        Announce(c.status);
        hDlg = hDlg ? hDlg : WaitDialog();
        ASSERT_TRUE(hDlg && WaitSlot(hDlg, 1001, c.named[0])) << SmNarrow(c.status);
        SmPumpMessages(500);
        EXPECT_EQ(1, g_alerts) << SmNarrow(c.status);
        EXPECT_EQ(c.renamed, g_renamed) << SmNarrow(c.status);
        EXPECT_EQ(c.named, NamedItems(hDlg)) << SmNarrow(c.status);
    }
    UnhookWinEvent(hook);
    CoUninitialize();

    std::wstring comctl;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, m_monitor->Pid());
    MODULEENTRY32W me = { sizeof(me) };
    for (BOOL ok = Module32FirstW(hSnap, &me); ok; ok = Module32NextW(hSnap, &me))
        comctl = _wcsicmp(me.szModule, L"comctl32.dll") == 0 ? me.szExePath : comctl;
    CloseHandle(hSnap);
    std::transform(comctl.begin(), comctl.end(), comctl.begin(), towlower);
    EXPECT_NE(std::wstring::npos, comctl.find(L"common-controls_6595b64144ccf1df_6.")) << SmNarrow(comctl);
}

// Under a black scheme the blue would stand 2.4 : 1 off the face: frames and lines take a scheme
// colour that stands 3 : 1 off it, and a dot stands 3 : 1 off what surrounds it.
TEST_F(StatusDialogSystem, BlackSchemeFramesLinesAndDotsStandOut)
{
    const int elements[] = { COLOR_3DFACE, COLOR_BTNTEXT, COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HOTLIGHT };
    const COLORREF black[] = { 0, RGB(255, 255, 255), 0, RGB(255, 255, 255), RGB(26, 235, 255), RGB(255, 255, 0) };
    COLORREF old[ARRAYSIZE(elements)];
    for (size_t i = 0; i < ARRAYSIZE(elements); i++)
        old[i] = GetSysColor(elements[i]);
    ASSERT_TRUE(SetSysColors(ARRAYSIZE(elements), elements, black));
    StartMonitor();
    Announce(L"6|5|");
    HWND hDlg = WaitDialog();
    bool shown = hDlg && WaitSlot(hDlg, 1007, L"No Cartridge.");
    Sleep(150);
    SmImage img;
    bool captured = shown && SmCaptureClient(hDlg, &img);
    SetSysColors(ARRAYSIZE(elements), elements, old);
    ASSERT_TRUE(captured);
    const DWORD face = img.At(1, 1);
    EXPECT_EQ(0u, face) << "the scheme reached the program";
    Geometry g = Geo(hDlg);
    for (const auto& it : { std::make_tuple(1001, 92, 101), std::make_tuple(1007, 119, 90) }) {
        RECT rc = SlotRect(hDlg, std::get<0>(it));
        int cx = g.xPicture + std::get<1>(it) + 4, cy = g.yUpper + std::get<2>(it) + 4;
        EXPECT_GE(Contrast(img.At(rc.left - 1, (rc.top + rc.bottom) / 2), face), 3.0) << "frame " << std::get<0>(it);
        EXPECT_GE(Contrast(img.At(std::get<0>(it) < 1007 ? g.xPicture : g.xPicture + 170, cy), face), 3.0) << "line";
        EXPECT_GE(Contrast(img.At(cx, cy), img.At(cx, cy - 5)), 3.0) << "dot " << std::get<0>(it);
        EXPECT_GE(Contrast(img.At(cx, cy), img.At(cx, cy + 5)), 3.0) << "dot " << std::get<0>(it);
    }
}
