#!/usr/bin/env bash
# Draws the program's icon, data/compositor.svg: two pictures composited
# over each other, a register letter, and a painter's stroke.
#   data/tools/make_icon.sh [OUTPUT]
set -euo pipefail
out=${1:-"$(dirname "$0")/../compositor.svg"}
cat >"$out" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">
  <rect x="4" y="4" width="38" height="38" rx="4" fill="#2e6fbd"/>
  <rect x="22" y="22" width="38" height="38" rx="4" fill="#f2a516" fill-opacity="0.8"/>
  <rect x="22" y="22" width="20" height="20" fill="#3b8a3a"/>
  <text x="13" y="30" font-family="sans-serif" font-weight="bold" font-size="18" fill="#ffffff">A</text>
  <path d="M28 52 C 36 40, 44 58, 54 44" stroke="#7a1f1f" stroke-width="4" stroke-linecap="round" fill="none"/>
</svg>
SVG
