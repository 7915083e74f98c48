#!/usr/bin/env bash
# Writes what the Debian package installs beside the built files, into <out>:
#   system-files.sh <bridge packages folder> <source folder> <out> <program folder once installed>
# the host manifest for every user of each browser family, chromium and firefox (the catalogue
# of browsers says in which folders they go), Chromium's update manifest, the icons drawn from
# our own picture, the manual pages and the changelog, compressed.
set -euo pipefail

packages=$1
source=$2
out=$3
libdir=$4

mkdir -p "$out/icons"
id=$(cat "$packages/chromium-extension-id")
version=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' \
    "$packages/chromium/manifest.json")
host() {
    python3 - "$libdir/vexlor-popup-bridge" "$1" "$2" >"$3" <<'PY'
import json, sys
path, key, value = sys.argv[1:4]
json.dump({"name": "fr.vexlor.popup_bridge",
           "description": "Vexlor Popup : ferme les onglets des navigateurs dont le titre ou "
                          "l'adresse contient un mot-clé",
           "path": path, "type": "stdio", key: [value]},
          sys.stdout, ensure_ascii=False, indent=4)
print()
PY
}
host allowed_origins "chrome-extension://$id/" "$out/chromium-host.json"
host allowed_extensions popup-bridge@vexlor.fr "$out/firefox-host.json"

"$source/bridge/updates-xml.sh" "$id" "$version" "$libdir/bridge/vexlor-popup-bridge.crx" \
    >"$out/updates.xml"

for size in 48 128 256; do
    rsvg-convert -w "$size" -h "$size" "$source/data/icons/app.svg" -o "$out/icons/$size.png"
done
gzip -9n <"$source/packaging/vexlor-popup.1" >"$out/vexlor-popup.1.gz"
gzip -9n <"$source/packaging/vexlor-popup-lockdown.8" >"$out/vexlor-popup-lockdown.8.gz"
gzip -9n <"$source/packaging/changelog" >"$out/changelog.Debian.gz"
