#!/usr/bin/env bash
# Renders every picture source in res/src/ to a PNG of the same name in res/,
# at the size the source declares, and the panel's pictures also at twice that
# size as "<name>@2x.png" for screens with a scale of 2. The application icon
# (qel_icon-<size>) comes in several sizes already and gets no 2x picture.
# The PNGs are kept in the repository, so a build never needs this script;
# run it after changing a source.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v rsvg-convert >/dev/null || { echo "render.sh: rsvg-convert (librsvg2-bin) is missing" >&2; exit 1; }
count=0
for svg in "$here"/src/*.svg; do
  name=$(basename "$svg" .svg)
  rsvg-convert --format=png --output="$here/$name.png" "$svg"
  count=$((count + 1))
  if [[ "$name" != qel_icon-* ]]; then
    rsvg-convert --format=png --zoom=2 --output="$here/$name@2x.png" "$svg"
    count=$((count + 1))
  fi
done
echo "render.sh: rendered $count pictures"
