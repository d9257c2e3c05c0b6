// smctl wm-proof: what a watermark job will put on paper, rendered in memory by the program's code.
#pragma once

int Smctl_WmProof(int argc, wchar_t** argv);

#define SMCTL_WM_PROOF_DETAILS \
    L"Reports the page, the face asked for and the face the platform used, characters drawn through a\n" \
    L"font link (with the face that drew them), characters no font draws, the ink box, cut copies and\n" \
    L"the density. --preview writes the page reduced to at most 800 pixels as PNG.\n" \
    L"Exit code 1: a glyph is missing or the face was substituted; 2: the job cannot be read or rendered."
