#include "fax/fax.h"

int WmForFax(HDC hdc, const RECT* prcClip)
{
    (void)hdc;
    (void)prcClip;
    return 1;
}
