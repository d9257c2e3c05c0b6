#!/bin/bash
# The committed printer bitmaps are the ones the generator makes from printer.json, and every
# marker of the item table passes the generator's checks (it stops with the faults otherwise).
set -euo pipefail
python3 "$(dirname "$0")/../../res/art/make_bitmaps.py" --check
