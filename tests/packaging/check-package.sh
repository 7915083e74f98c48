#!/usr/bin/env bash
# The Debian package as built: it holds the program, the bridge, the lock-down and their manual
# pages; lintian finds no error; its desktop entry and AppStream metadata are valid.
set -euo pipefail
debs=("$1"/vexlor-popup_*.deb)
deb=${debs[-1]}
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in usr/bin/vexlor-popup usr/lib/vexlor-popup/vexlor-popup usr/lib/vexlor-popup/vexlor-popup-bridge \
    usr/lib/vexlor-popup/bridge/vexlor-popup-bridge.xpi usr/lib/vexlor-popup/bridge/updates.xml \
    usr/sbin/vexlor-popup-lockdown usr/share/man/man8/vexlor-popup-lockdown.8.gz \
    usr/share/man/man1/vexlor-popup.1.gz etc/chromium/native-messaging-hosts/fr.vexlor.popup_bridge.json; do
    grep -qx "\./$path" <<<"$contents" || { echo "$deb lacks $path" && exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -qw jq
lintian --fail-on error "$deb"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
desktop-file-validate "$scratch/usr/share/applications/fr.vexlor.popup.desktop"
appstreamcli validate --no-net "$scratch/usr/share/metainfo/fr.vexlor.popup.metainfo.xml"
echo "$deb: contents, lintian and validators as expected"
