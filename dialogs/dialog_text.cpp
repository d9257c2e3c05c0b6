// The texts of the credential dialogs in three languages, and the character-class check of
// their edit boxes. The file is UTF-8; the wide literals reach the program as UTF-16.
#include "dialogs/dialogs.h"
#include "util/trace.h"
#include <strsafe.h>

// Columns 0 and 3 to 12 are English, 1 Traditional Chinese, 2 Simplified Chinese.
#define DLG_ROW(en, tc, sc) en, tc, sc, en, en, en, en, en, en, en, en, en, en

static const WCHAR c_szPwdLabelEn[] = L"Password:";
static const WCHAR c_szPwdLabelTc[] = L"密碼:";
static const WCHAR c_szPwdLabelSc[] = L"密码:";
static const WCHAR c_szOkEn[] = L"OK";
static const WCHAR c_szOkTc[] = L"確定";
static const WCHAR c_szOkSc[] = L"确定";
static const WCHAR c_szNameHelpEn[] =
    L"Please enter English characters or digits. Up to 28 characters or digits are allowed.";
static const WCHAR c_szNameHelpTc[] = L"請輸入英文字母或數字，最多輸入28個字元。";
static const WCHAR c_szNameHelpSc[] = L"请输入英文字母或数字，最多输入28个字元。";

const LPCWSTR g_DialogTextTable[DLG_TEXT_ROWS * DLG_TEXT_LANGUAGES] = {
    DLG_ROW(L"Storage Print", L"儲存列印-保存", L"储存列印-保存"),
    DLG_ROW(L"Security Print", L"儲存列印-加密", L"储存列印-安全"),
    DLG_ROW(L"ID:", L"工作名稱:", L"工作名称:"),
    DLG_ROW(L"Please enter English characters or digits. Up to 16 characters or digits are allowed. "
            L"ID redundant will add on the serial number automatically behind input ID.",
            L"請輸入英文字母或數字，最多輸入16個字元，名稱重覆會自動在輸入的名稱後方加上流水號。",
            L"请输入英文字母或数字，最多输入16个字元，名称重覆会自动在输入的名称后方加上流水号。"),
    DLG_ROW(c_szPwdLabelEn, c_szPwdLabelTc, c_szPwdLabelSc),
    DLG_ROW(L"Please enter English characters or digits. Up to 16 digits are allowed.",
            L"請輸入英文字母或數字，最多輸入16個字元。",
            L"请输入英文字母或数字，最多输入16个字元。"),
    DLG_ROW(L"Delete this file after printing.", L"列印後刪除", L"打印后删除"),
    DLG_ROW(c_szOkEn, c_szOkTc, c_szOkSc),
    DLG_ROW(L"User authentication", L"使用者認證", L"使用者认证"),
    DLG_ROW(L"User Name:", L"使用者名稱:", L"使用者名称:"),
    DLG_ROW(c_szNameHelpEn, c_szNameHelpTc, c_szNameHelpSc),
    DLG_ROW(c_szPwdLabelEn, c_szPwdLabelTc, c_szPwdLabelSc),
    DLG_ROW(L"Please enter English characters or digits. Up to 28 digits are allowed.",
            c_szNameHelpTc, c_szNameHelpSc),
    DLG_ROW(c_szOkEn, c_szOkTc, c_szOkSc),
    DLG_ROW(L"The values could not be handed to the printer: an administrator must allow it.",
            L"無法將這些資料交給印表機：須由系統管理員允許。",
            L"无法将这些数据交给打印机：须由系统管理员允许。"),
};

LPCWSTR DLG_GetText(int row, LONG languageIndex)
{
    if (row < 0 || row >= DLG_TEXT_ROWS)
        return L"";
    if (languageIndex < 0 || languageIndex >= DLG_TEXT_LANGUAGES)
        languageIndex = 0;
    return g_DialogTextTable[row * DLG_TEXT_LANGUAGES + languageIndex];
}

static BOOL IsInClass(WCHAR ch, int charClass)
{
    switch (charClass) {
    case MISC_CLASS_PRINTABLE:
        return ch >= 0x20 && ch <= 0x7E;
    case MISC_CLASS_NAME:
        if ((ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z'))
            return TRUE;
        return ch == L'.' || ch == L'-' || ch == L'_' || ch == L'@' || ch == L';' || ch == L' ' || ch == L'#';
    default:
        return FALSE;
    }
}

// Class 0 serves the password boxes: its text and units are never traced, only their count.
int MISC_CheckString(LPCWSTR pszText, int count, int charClass)
{
    TRACE_FuncIn(TRACE_LEVEL_INFO, L"MISC_CheckString");
    BOOL fSecret = charClass == MISC_CLASS_PRINTABLE;
    if (fSecret)
        TRACE_Print(TRACE_LEVEL_INFO, L"text of %d units (masked)", count);
    else
        TRACE_Print(TRACE_LEVEL_INFO, L"text = %s", pszText ? pszText : L"");

    BOOL fPass = TRUE;
    for (int i = 0; i < count && fPass; i++) {
        if (!pszText) {
            fPass = FALSE;
            break;
        }
        WCHAR ch = pszText[i];
        fPass = IsInClass(ch, charClass);
        if (fSecret)
            TRACE_Print(TRACE_LEVEL_INFO, L"unit %d, pass = %d", i, fPass);
        else
            TRACE_Print(TRACE_LEVEL_INFO, L"unit %d = 0x%04x, pass = %d", i, (unsigned)ch, fPass);
    }
    Sleep(20);
    TRACE_FuncOut(TRACE_LEVEL_INFO);
    return fPass ? 1 : 0;
}
