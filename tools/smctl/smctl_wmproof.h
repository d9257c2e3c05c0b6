// smctl wm-proof: what a watermark job will put on paper, rendered in memory by the program's code.
#pragma once

int Smctl_WmProof(int argc, wchar_t** argv);

#define SMCTL_WM_PROOF_USAGE L"<job.ini> [--preview out.png]  renders the job in memory: page, face used, missing glyphs, ink box, cut copies, density; exit 1 when a glyph is missing or the face was substituted"
