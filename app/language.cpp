#include "app/app.h"
#include "util/trace.h"

// User-interface language index of a Windows language identifier; anything else is English (0).
static const struct { LONG languageId; LONG index; } c_LanguageTable[] = {
    { 1028, 1 },    // Chinese (Traditional, Taiwan)
    { 2052, 2 },    // Chinese (Simplified, PRC)
    { 1036, 3 },    // French
    { 1031, 4 },    // German
    { 1045, 5 },    // Polish
    { 1049, 6 },    // Russian
    { 3082, 7 },    // Spanish (modern sort)
    { 1046, 8 },    // Portuguese (Brazil)
    { 1040, 9 },    // Italian
    { 1055, 10 },   // Turkish
    { 1025, 11 },   // Arabic (Saudi Arabia)
    { 1065, 12 },   // Persian
};

LONG SM_LanguageIndexOf(LONG languageId)
{
    for (size_t i = 0; i < ARRAYSIZE(c_LanguageTable); i++) {
        if (c_LanguageTable[i].languageId == languageId)
            return c_LanguageTable[i].index;
    }
    return 0;
}

LONG MISC_GetLanguageIndex(LONG languageId)
{
    MISC_DebugOut(L"CountryVal = %d", (int)languageId);
    LONG index = SM_LanguageIndexOf(languageId);
    MISC_DebugOut(L"index = %d", (int)index);
    return index;
}
