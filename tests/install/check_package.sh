#!/bin/sh
# One Debian tool's check of the package in a folder: lintian (no error and no
# warning that dist/kestlin.lintian-overrides does not explain),
# desktop-file-validate, appstreamcli validate. Exits 77 (skipped) when the
# tool is not installed.
set -eu
tool=$1
deb=$(ls "$2"/kestlin_*.deb)
command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
case $tool in
  lintian)
    exec lintian --fail-on error,warning --display-info "$deb" ;;
esac
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
case $tool in
  desktop-file-validate)
    desktop-file-validate "$root"/usr/share/applications/*.desktop ;;
  appstreamcli)
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ;;
esac
