#!/bin/bash
# appstreamcli accepts the AppStream metainfo, pedantically; its id, launchable and release agree
# with the desktop entry and the project version, and it provides no media type.
# Usage: check-metainfo.sh METAINFO PROJECT_VERSION    Exits 77 without appstreamcli.
set -euo pipefail
metainfo=$1
version=$2
command -v appstreamcli >/dev/null || { echo "SKIP: appstreamcli (appstream) not found"; exit 77; }
appstreamcli validate --pedantic --no-net "$metainfo" || { echo "FAIL: appstreamcli rejects $metainfo"; exit 1; }
status=0
id=$(basename "$metainfo" .metainfo.xml)
grep -q "<id>$id</id>" "$metainfo" || { echo "FAIL: the id is not $id, the file's name"; status=1; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
    || { echo "FAIL: does not launch $id.desktop"; status=1; }
[[ -f $(dirname "$metainfo")/$id.desktop ]] || { echo "FAIL: no desktop entry $id.desktop"; status=1; }
! grep -q '<mediatype>' "$metainfo" || { echo "FAIL: provides a media type"; status=1; }
IFS=. read -r major minor patch _ <<<"$version"
release="$major.${minor:-0}.${patch:-0}"
grep -q "<release version=\"$release\"" "$metainfo" || { echo "FAIL: no release $release"; status=1; }
exit $status
