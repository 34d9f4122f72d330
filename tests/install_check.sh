#!/bin/sh
# Installs a build into a fresh prefix (cmake --install BUILD --prefix PREFIX) and checks the
# installation: both programs run from there, the menu entry and its icon are in place and
# the entry is valid (desktop-file-validate, Debian: desktop-file-utils; skipped without it).
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
version=$("$prefix/bin/orolith-cli" --version)
test "$("$prefix/bin/orolith" --version)" = "orolith ${version#orolith-cli }"
test -s "$prefix/share/icons/hicolor/scalable/apps/orolith.svg"
entry=$prefix/share/applications/orolith.desktop
grep -qx 'Exec=orolith' "$entry"
grep -qx 'Icon=orolith' "$entry"
if ! command -v desktop-file-validate >/dev/null 2>&1; then
  echo "install_check.sh: no desktop-file-validate, the menu entry is not validated" >&2
  exit 77
fi
desktop-file-validate "$entry"
