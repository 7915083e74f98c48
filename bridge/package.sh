#!/usr/bin/env bash
# Builds the browser bridge's packages from the extension's folder:
#   package.sh <extension folder> <key file> <output folder> [chromium]
# The key is made on first use and kept, so the Chromium extension id stays the same from one
# build to the next on this machine; it never leaves the build folder.
set -euo pipefail

extension=$1
key=$2
out=$3
chromium=${4:-}

if [ ! -s "$key" ]; then
    (umask 077 && openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$key" 2>/dev/null)
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out"

# Chromium names an extension after its public key: the first 32 hex digits of the key's
# SHA-256, written with the letters a to p.
openssl pkey -in "$key" -pubout -outform DER -out "$scratch/public.der"
id=$(openssl dgst -sha256 -binary "$scratch/public.der" | od -An -v -tx1 | tr -d ' \n' | head -c 32 |
    tr '0-9a-f' 'a-p')
public=$(base64 -w0 "$scratch/public.der")
version=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' \
    "$extension/manifest.json")

# Firefox takes the folder as it is, zipped with its manifest at the root.
rm -f "$out/vexlor-popup-bridge.xpi"
(cd "$extension" && zip -q -X -r "$scratch/bridge.xpi" manifest.json background.js)
mv "$scratch/bridge.xpi" "$out/vexlor-popup-bridge.xpi"

# Chromium's copy carries the public key, which fixes its id when loaded unpacked; the
# "scripts" entry is Firefox's and only draws a warning from Chromium.
unpacked="$scratch/chromium"
mkdir -p "$unpacked"
cp "$extension/background.js" "$unpacked/"
python3 - "$extension/manifest.json" "$unpacked/manifest.json" "$public" <<'PY'
import json, sys
manifest = json.load(open(sys.argv[1], encoding="utf-8"))
manifest["key"] = sys.argv[3]
manifest["background"].pop("scripts", None)
with open(sys.argv[2], "w", encoding="utf-8") as file:
    json.dump(manifest, file, ensure_ascii=False, indent=4)
    file.write("\n")
PY
rm -rf "$out/chromium"
cp -r "$unpacked" "$out/chromium"

if [ -n "$chromium" ] && [ -x "$chromium" ]; then
    # Chromium packs without a display in a profile of its own; as root it needs --no-sandbox.
    "$chromium" --headless=new --no-sandbox --disable-gpu --user-data-dir="$scratch/profile" \
        --pack-extension="$unpacked" --pack-extension-key="$key" >"$scratch/pack.log" 2>&1 || true
    if [ ! -s "$scratch/chromium.crx" ]; then
        cat "$scratch/pack.log" >&2
        echo "package.sh: Chromium did not pack the extension" >&2
        exit 1
    fi
    mv "$scratch/chromium.crx" "$out/vexlor-popup-bridge.crx"
    chmod 644 "$out/vexlor-popup-bridge.crx"
else
    echo "package.sh: no Chromium, so no .crx (./run.sh --with-browsers installs it)" >&2
    rm -f "$out/vexlor-popup-bridge.crx"
fi

# The update manifest for the packages in the build folder; the Debian package ships its own,
# pointing at the installed copy, which the lock-down's Chromium policy names.
"$(dirname "$0")/updates-xml.sh" "$id" "$version" "$out/vexlor-popup-bridge.crx" >"$out/updates.xml"
echo "$id" >"$out/chromium-extension-id"
