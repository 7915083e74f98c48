#!/usr/bin/env bash
# Undoes bridge/install-for-all-users.sh: the policies, the host manifests and the installed
# copies go; whatever else the Firefox policies file holds stays as it was.
#   sudo bridge/uninstall-for-all-users.sh
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "Ce script retire le pont navigateur pour tous les utilisateurs : lancez-le en" \
        "administrateur (sudo $0)." >&2
    exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
# The browsers' folders come from the program's catalogue of browsers.
catalogue=$root/src/sources/browsers.tsv
folderOf() { awk -F'\t' -v name="$1" -v column="$2" '$1 == name { print $column }' "$catalogue"; }
lib=/usr/local/lib/vexlor-popup
firefoxPolicies=$(folderOf Firefox 8)/policies.json

rm -f "$(folderOf Chromium 8)/vexlor-popup.json" \
    "$(folderOf Chromium 7)/fr.vexlor.popup_bridge.json" \
    "$(folderOf Firefox 7)/fr.vexlor.popup_bridge.json"

if [ -e "$firefoxPolicies" ]; then
    python3 - "$firefoxPolicies" "$lib/firefox-policies-before.json" <<'PY'
import json, os, sys

path, before_path = sys.argv[1:3]
addon = "popup-bridge@vexlor.fr"
pref = "xpinstall.signatures.required"
before = {"extension": None, "preference": None}
if os.path.exists(before_path):
    with open(before_path, encoding="utf-8") as file:
        before = json.load(file)
with open(path, encoding="utf-8") as file:
    document = json.load(file)
policies = document.get("policies", {})
for group, key, previous in (("ExtensionSettings", addon, before["extension"]),
                             ("Preferences", pref, before["preference"])):
    entries = policies.get(group)
    if entries is None:
        continue
    if previous is None:
        entries.pop(key, None)
    else:
        entries[key] = previous
    if not entries:
        del policies[group]
if not policies and set(document) <= {"policies"}:
    os.remove(path)
else:
    with open(path + ".new", "w", encoding="utf-8") as file:
        json.dump(document, file, ensure_ascii=False, indent=4)
        file.write("\n")
    os.chmod(path + ".new", 0o644)
    os.replace(path + ".new", path)
PY
fi

rm -rf "$lib"
# The folders the installer made go too when nothing else uses them.
rmdir --ignore-fail-on-non-empty /etc/chromium/policies/managed /etc/chromium/policies \
    /etc/chromium/native-messaging-hosts /usr/lib/mozilla/native-messaging-hosts 2>/dev/null || true
echo "Pont navigateur retiré pour tous les utilisateurs. Relancez Chromium et Firefox."
