#!/usr/bin/env bash
# Builds the Debian packages from a copy of this source tree, as
# `dpkg-buildpackage -us -uc OPTIONS` in the tree would, but leaves the tree
# without build output and puts the packages in OUT_DIR instead of the
# tree's parent folder. The copy holds what git tracks or would track, so
# build folders stay out and files not yet committed are in.
# Usage: build_packages.sh OUT_DIR [dpkg-buildpackage options...]
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
out=$1
shift

copy=$out/q9remote
rm -rf "$copy"
mkdir -p "$copy"
git -C "$source" ls-files -z --cached --others --exclude-standard \
    | while IFS= read -r -d '' file; do
        # Tracked files deleted in the work tree are not part of it.
        [ ! -e "$source/$file" ] || printf '%s\0' "$file"
    done \
    | tar -C "$source" --null -T - -cf - | tar -C "$copy" -xf -
cd "$copy"
dpkg-buildpackage -us -uc "$@"
