// Fax cover page: what the watermark renderer and the driver-side tool use.
#pragma once
#include <windows.h>

// Kinds of FAX_GetPathName.
#define FAX_PATH_STR_INI    0   // the fax settings, captions and sender's details
#define FAX_PATH_COVER_INI  2   // the message text of the cover page (UTF-16)

// Sections and keys of str.ini that the driver writes.
#define FAX_SECTION_SETTINGS L"DataForSM"
#define FAX_SECTION_TEXTS    L"SMTextOut"
#define FAX_SECTION_SENDER   L"SenderInformation"

// Draws the cover page into hdc, whose bitmap is white; prcClip covers the whole page.
int WmForFax(HDC hdc, const RECT* prcClip);

// The path of str.ini or cover.ini in the shared documents folder, into a buffer of
// cchPath units (260 expected). Returns 1 when the folder came from the registry, else 0;
// the file name is then appended to what the buffer held.
int FAX_GetPathName(LPWSTR pszPath, size_t cchPath, int nKind);
