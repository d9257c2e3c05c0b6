// Fax cover page: what the watermark renderer uses.
#pragma once
#include <windows.h>

// Draws the cover page into hdc, whose bitmap is white; prcClip covers the whole page.
int WmForFax(HDC hdc, const RECT* prcClip);
