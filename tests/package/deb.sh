#!/usr/bin/env bash
# Builds the Debian package with CPack, checks that it holds what a shell and
# a desktop look for, validates its metadata and runs lintian over it.
# usage: deb.sh BUILD_DIR WITH_GUI(ON|OFF)
set -euo pipefail
build=$1 gui=$2
work=$build/package-check
rm -rf "$work"
mkdir -p "$work"

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
deb=$(echo "$work"/*.deb)

expected=(
  /usr/bin/pictavo
  /usr/share/man/man1/pictavo.1.gz
  /usr/share/bash-completion/completions/pictavo
  /usr/share/zsh/vendor-completions/_pictavo
  /usr/share/fish/vendor_completions.d/pictavo.fish
  /usr/share/doc/pictavo/copyright
  /usr/share/doc/pictavo/changelog.Debian.gz
)
if [ "$gui" = ON ]; then
  expected+=(
    /usr/bin/Redazar
    /usr/share/man/man1/Redazar.1.gz
    /usr/share/applications/pictavo.desktop
    /usr/share/metainfo/org.pictavo.Pictavo.metainfo.xml
    /usr/share/icons/hicolor/scalable/apps/pictavo.svg
  )
  for size in 16 22 24 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/pictavo.png")
  done
fi

status=0
contents=$(dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print $6 }')
for file in "${expected[@]}"; do
  grep -qxF "$file" <<<"$contents" || { echo "not in the package: $file"; status=1; }
done
dpkg-deb -f "$deb" Depends | grep -q libjpeg62-turbo || { echo "Depends lacks libjpeg62-turbo"; status=1; }
for library in libheif1 libavif15 libjxl0.7 libwebpmux3; do
  dpkg-deb -f "$deb" Depends | grep -q "$library" || { echo "Depends lacks $library"; status=1; }
done

if [ "$gui" = ON ]; then
  dpkg-deb -x "$deb" "$work/root"
  desktop-file-validate "$work/root/usr/share/applications/pictavo.desktop" || status=1
  appstreamcli validate-tree --no-net "$work/root" || status=1
fi

if ! report=$(lintian --fail-on error,warning "$deb" 2>&1); then
  echo "lintian reports errors or warnings:"
  status=1
fi
grep -v 'root privileges' <<<"$report" || true
exit $status
