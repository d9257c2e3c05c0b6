// Trace facility: exact line formats, indentation, gating, limits, file output.
#include <gtest/gtest.h>
#include "util/trace.h"
#include "trace_capture.h"
#include <memory>
#include <string>
#include <vector>

namespace {

const char kMarker[] = "-------------------------------------->ERROR";

class TraceTest : public ::testing::Test {
protected:
    void TearDown() override { m_capture.reset(); }
    void Configure(DWORD threshold, LONG channel, int switchIndex, const wchar_t* prefix = L"")
    {
        m_capture.reset();
        m_capture.reset(new TraceCapture(L"trace", threshold, channel, switchIndex, prefix));
    }
    std::vector<std::string> LogLines() { return m_capture->Lines(); }
    std::unique_ptr<TraceCapture> m_capture;
};

}  // namespace

TEST_F(TraceTest, OffByDefaultButCountersMove)
{
    TRACE_ResetCounters();
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Outer");
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Inner");
    TRACE_Print(TRACE_LEVEL_ERROR, L"nothing %d", 1);
    TRACE_Tag(L"Tag", L"nothing");
    TRACE_TagError(L"Tag", L"nothing");
    int indent = -1, depth = -1;
    TRACE_GetCounters(&indent, &depth);
    EXPECT_EQ(4, indent);
    EXPECT_EQ(2, depth);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    TRACE_GetCounters(&indent, &depth);
    EXPECT_EQ(0, indent);
    EXPECT_EQ(0, depth);
    EXPECT_EQ(0u, TRACE_IsEnabled());
}

TEST_F(TraceTest, ExactLineFormats)
{
    Configure(1, 3, 3);
    EXPECT_EQ(7u, TRACE_IsEnabled());
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"WinMain");
    TRACE_Print(TRACE_LEVEL_INFO, L"HIDE window");
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"Inner");
    TRACE_Print(TRACE_LEVEL_ERROR, L"bad %s %d", L"wide", 42);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    TRACE_Tag(L"MISC_GetPathName", L"get directory fail!");
    TRACE_TagError(L"MISC_GetPathName", L"directory %s not exist", L"C:\\x\\");
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    std::vector<std::string> expected = {
        "WinMain in, 2",
        "++WinMain::HIDE window",
        "++Inner in, 4",
        std::string("++++Inner::bad wide 42") + kMarker,
        "++Inner out",
        "[MISC_GetPathName]::get directory fail!",
        std::string("[MISC_GetPathName]::directory C:\\x\\ not exist") + kMarker,
        "WinMain out",
    };
    EXPECT_EQ(expected, LogLines());
}

TEST_F(TraceTest, PrefixAndMessageOutsideAnyFunction)
{
    Configure(1, 1, 1, L"SM> ");
    TRACE_Print(TRACE_LEVEL_INFO, L"loose");
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"F");
    TRACE_Tag(L"T", L"x=%d", 5);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    std::vector<std::string> expected = { "SM> ::loose", "SM> F in, 2", "SM> [T]::x=5", "SM> F out" };
    EXPECT_EQ(expected, LogLines());
}

TEST_F(TraceTest, GatingByThresholdChannelAndSwitch)
{
    static const struct { DWORD threshold; LONG channel; int switchIndex; bool info; bool error; bool tag; } cases[] = {
        { 1, 3, 3, true, true, true },
        { 4, 3, 3, false, true, true },       // level 1 lines dropped, tags have no level
        { 0, 3, 3, false, false, false },     // threshold 0: off
        { 1, 3, 1, false, false, false },     // active channel's switch not set
        { 1, 0, 0, false, false, false },     // channel outside 1..5
        { 1, 6, 5, false, false, false },
        { 1, 255, 1, false, false, false },
    };
    for (const auto& c : cases) {
        Configure(c.threshold, c.channel, c.switchIndex);
        TRACE_FuncIn(TRACE_LEVEL_INFO, L"F");
        TRACE_Print(TRACE_LEVEL_INFO, L"info");
        TRACE_Print(TRACE_LEVEL_ERROR, L"error");
        TRACE_Tag(L"T", L"tag");
        TRACE_FuncOut(TRACE_LEVEL_INFO);
        std::vector<std::string> lines = LogLines();
        SCOPED_TRACE(testing::Message() << c.threshold << "/" << c.channel << "/" << c.switchIndex);
        EXPECT_EQ(c.info, SmContains(lines, "F::info"));
        EXPECT_EQ(c.info, SmContains(lines, "F in, 2"));
        EXPECT_EQ(c.error, SmContains(lines, "error"));
        EXPECT_EQ(c.tag, SmContains(lines, "[T]::tag"));
    }
}

TEST_F(TraceTest, UnbalancedOutStaysAtZero)
{
    Configure(1, 1, 1);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    int indent = -1, depth = -1;
    TRACE_GetCounters(&indent, &depth);
    EXPECT_EQ(0, indent);
    EXPECT_EQ(0, depth);
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"G");
    std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("G in, 2", lines.back());
}

TEST_F(TraceTest, LimitsCutInsteadOfOverrunning)
{
    std::wstring longPrefix(80, L'p');
    Configure(1, 1, 1, longPrefix.substr(0, TRACE_CCH_PREFIX - 1).c_str());
    // 300 nested functions: the indentation is capped at 512 and the name stack holds 50.
    std::wstring longName(120, L'n');
    for (int i = 0; i < 300; i++)
        TRACE_FuncIn(TRACE_LEVEL_INFO, longName.c_str());
    std::wstring longMessage(3000, L'm');
    TRACE_Print(TRACE_LEVEL_ERROR, L"%s", longMessage.c_str());
    for (int i = 0; i < 300; i++)
        TRACE_FuncOut(TRACE_LEVEL_INFO);

    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(601u, lines.size());
    for (const std::string& line : lines)
        EXPECT_LT(line.size(), (size_t)TRACE_CCH_LINE);
    EXPECT_EQ(std::string(49, 'n') + " in, 2", lines[0].substr(51));   // name cut to 49, prefix to 51
    const std::string& deep = lines[300];
    EXPECT_EQ(std::string(512, '+'), deep.substr(0, 512));
    EXPECT_NE('+', deep[512]);
    EXPECT_EQ(0u, deep.find_first_not_of('+') - 512);
    EXPECT_EQ("n out", lines.back().substr(lines.back().size() - 5));
}

TEST(TraceFile, MissingLogDirectoryLosesOnlyTheFileLine)
{
    const wchar_t* path = L"C:\\no\\such\\dir\\trace.log";
    TraceCapture trace(L"unused", TRACE_LEVEL_INFO, 1, 1, L"", path);
    TRACE_Tag(L"T", L"still goes to the debugger");
    EXPECT_EQ(1, TRACE_WriteFile(L"dropped"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path));
}

TEST(TraceSettings, ParseOperatorSwitch)
{
    TRACE_SETTINGS s;
    ASSERT_TRUE(TRACE_ParseSettings(L"threshold=4;channel=2;switch=9;path=C:\\t.log;prefix=SM ", &s));
    EXPECT_EQ(4u, s.threshold);
    EXPECT_EQ(2, s.activeChannel);
    EXPECT_EQ(9u, s.channelSwitch[1]);
    EXPECT_EQ(0u, s.channelSwitch[0]);
    EXPECT_EQ(1u, s.fileOutput);
    EXPECT_STREQ(L"C:\\t.log", s.logPath);
    EXPECT_STREQ(L"SM ", s.prefix);

    ASSERT_TRUE(TRACE_ParseSettings(L"file=0;path=C:\\t.log", &s));
    EXPECT_EQ(0u, s.fileOutput);
    EXPECT_EQ(1u, s.threshold);
    EXPECT_EQ(1, s.activeChannel);
    EXPECT_EQ(1u, s.channelSwitch[0]);

    ASSERT_TRUE(TRACE_ParseSettings((L"prefix=" + std::wstring(100, L'x')).c_str(), &s));
    EXPECT_EQ((size_t)TRACE_CCH_PREFIX - 1, wcslen(s.prefix));

    EXPECT_FALSE(TRACE_ParseSettings(L"", &s));
    EXPECT_EQ(0u, s.threshold);
}

TEST(Format, WideStringConventionAndCut)
{
    WCHAR buf[16];
    memset(buf, 0xAB, sizeof(buf));
    MISC_Format(buf, ARRAYSIZE(buf), L"[%s|%d]", L"wide", -3);
    EXPECT_STREQ(L"[wide|-3]", buf);
    memset(buf, 0xAB, sizeof(buf));
    MISC_Format(buf, 8, L"%s", L"0123456789");
    EXPECT_STREQ(L"0123456", buf);
    EXPECT_EQ(0xABABu, (unsigned)buf[8]);   // nothing written past the given size
}
