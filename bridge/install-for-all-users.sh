#!/usr/bin/env bash
# Installs the browser bridge for every user of this machine: the host program, the packages,
# the host manifests of Chromium and Firefox, and the policies that force the extension into
# both browsers, where no user can remove it. Run after ./run.sh has built the program:
#   sudo bridge/install-for-all-users.sh
# bridge/uninstall-for-all-users.sh undoes it.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "Ce script installe le pont navigateur pour tous les utilisateurs : lancez-le en" \
        "administrateur (sudo $0)." >&2
    exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXLOR_BUILD_DIR:-$root/build}
packages=$build/bin/bridge
for file in "$build/bin/vexlor-popup-bridge" "$packages/chromium-extension-id" \
    "$packages/vexlor-popup-bridge.xpi" "$packages/vexlor-popup-bridge.crx"; do
    if [ ! -s "$file" ]; then
        echo "Fichier manquant : $file. Construisez d'abord le programme avec ./run.sh" \
            "(les navigateurs installés : scripts/install-deps.sh --with-browsers)." >&2
        exit 1
    fi
done

lib=/usr/local/lib/vexlor-popup
host=$lib/vexlor-popup-bridge
id=$(cat "$packages/chromium-extension-id")
version=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' \
    "$packages/chromium/manifest.json")
# The browsers' folders come from the program's catalogue of browsers.
catalogue=$root/src/sources/browsers.tsv
folderOf() { awk -F'\t' -v name="$1" -v column="$2" '$1 == name { print $column }' "$catalogue"; }
chromiumHosts=$(folderOf Chromium 7)
chromiumPolicy=$(folderOf Chromium 8)/vexlor-popup.json
firefoxHosts=$(folderOf Firefox 7)
firefoxPolicies=$(folderOf Firefox 8)/policies.json

# Copies of their own, so that a build folder cleaned or moved later breaks nothing, and
# that users who may not read the builder's home still reach them.
install -d -m 755 "$lib"
install -m 755 "$build/bin/vexlor-popup-bridge" "$host"
install -m 644 "$packages/vexlor-popup-bridge.xpi" "$packages/vexlor-popup-bridge.crx" "$lib/"
"$root/bridge/updates-xml.sh" "$id" "$version" "$lib/vexlor-popup-bridge.crx" >"$lib/updates.xml"
chmod 644 "$lib/updates.xml"

install -d -m 755 "$chromiumHosts" "$firefoxHosts" "$(dirname "$chromiumPolicy")" \
    "$(dirname "$firefoxPolicies")"
cat >"$chromiumHosts/fr.vexlor.popup_bridge.json" <<JSON
{
    "name": "fr.vexlor.popup_bridge",
    "description": "Vexlor Popup",
    "path": "$host",
    "type": "stdio",
    "allowed_origins": ["chrome-extension://$id/"]
}
JSON
cat >"$firefoxHosts/fr.vexlor.popup_bridge.json" <<JSON
{
    "name": "fr.vexlor.popup_bridge",
    "description": "Vexlor Popup",
    "path": "$host",
    "type": "stdio",
    "allowed_extensions": ["popup-bridge@vexlor.fr"]
}
JSON
# Private windows would escape a force-installed extension, so Chromium gets none.
cat >"$chromiumPolicy" <<JSON
{
    "ExtensionInstallForcelist": ["$id;file://$lib/updates.xml"],
    "IncognitoModeAvailability": 1
}
JSON
chmod 644 "$chromiumHosts/fr.vexlor.popup_bridge.json" "$firefoxHosts/fr.vexlor.popup_bridge.json" \
    "$chromiumPolicy"

# Firefox has one policies file that others may share: only our entries change, and what
# they replace is kept for the uninstaller.
python3 - "$firefoxPolicies" "$lib/firefox-policies-before.json" "$lib/vexlor-popup-bridge.xpi" <<'PY'
import json, os, sys

path, before_path, xpi = sys.argv[1:4]
addon = "popup-bridge@vexlor.fr"
pref = "xpinstall.signatures.required"
document = {}
if os.path.exists(path):
    with open(path, encoding="utf-8") as file:
        document = json.load(file)
policies = document.setdefault("policies", {})
extensions = policies.setdefault("ExtensionSettings", {})
preferences = policies.setdefault("Preferences", {})
if not os.path.exists(before_path):
    with open(before_path, "w", encoding="utf-8") as file:
        json.dump({"extension": extensions.get(addon), "preference": preferences.get(pref)}, file)
extensions[addon] = {
    "installation_mode": "force_installed",
    "install_url": "file://" + xpi,
    "private_browsing": True,
}
# Firefox ESR lets a policy lift the signature check, which a package of our own cannot pass.
preferences[pref] = {"Value": False, "Status": "locked"}
with open(path + ".new", "w", encoding="utf-8") as file:
    json.dump(document, file, ensure_ascii=False, indent=4)
    file.write("\n")
os.chmod(path + ".new", 0o644)
os.replace(path + ".new", path)
PY

if [ -e /etc/firefox/policies/policies.json ]; then
    echo "Attention : /etc/firefox/policies/policies.json existe et passe avant $firefoxPolicies ;" \
        "ajoutez-y les mêmes règles pour Firefox." >&2
fi
echo "Pont navigateur installé pour tous les utilisateurs (extension $id)." \
    "Relancez Chromium et Firefox pour qu'ils l'appliquent."
