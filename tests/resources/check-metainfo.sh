#!/bin/bash
# appstreamcli accepts the AppStream metainfo, pedantically; its id, launchable and release agree
# with its file name and the project version, and it provides no media type.
# Usage: check-metainfo.sh METAINFO RELEASE_VERSION (major.minor.patch)    Exits 77 without appstreamcli.
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
! grep -q '<mediatype>' "$metainfo" || { echo "FAIL: provides a media type"; status=1; }
grep -q "<release version=\"$version\"" "$metainfo" || { echo "FAIL: no release $version"; status=1; }
exit $status
