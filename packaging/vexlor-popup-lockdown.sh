#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Vexlor Popup developers
# SPDX-License-Identifier: GPL-3.0-or-later
#
# vexlor-popup-lockdown on|off|status, run as root: forces the browser bridge into every user's
# browsers whose policies the catalogue of browsers locates (Chromium, Google Chrome, Firefox),
# closes the ways around it the browsers offer (private windows, guest and added profiles, safe
# mode's menus, user-level native messaging hosts), and starts the program at every log-on.
# "off" puts back what "on" found; "status" says what is in place.
# VEXLOR_LOCKDOWN_ROOT names another root folder to work on (default /).
set -euo pipefail
umask 022

root=${VEXLOR_LOCKDOWN_ROOT:-}
root=${root%/}
lib=/usr/lib/vexlor-popup
xpi=$lib/bridge/vexlor-popup-bridge.xpi
updates=$lib/bridge/updates.xml
state=$root/var/lib/vexlor-popup/lockdown
addon=popup-bridge@vexlor.fr
hostManifest=fr.vexlor.popup_bridge.json
autostart=$root/etc/xdg/autostart/fr.vexlor.popup.desktop
signaturePref=xpinstall.signatures.required

# The browsers, from the catalogue the package was built with (its header says what the
# policies column holds), one a line, separated by tabs: name, family, policies, and the folder
# where the lock-down puts a host manifest with the package's manifest it copies there ("-"
# for none).
names=() families=() policies=() hostFolders=() hostSources=()
while IFS=$'\t' read -r name family policy hostFolder hostSource; do
    names+=("$name") families+=("$family") policies+=("$policy")
    hostFolders+=("$hostFolder") hostSources+=("$hostSource")
done <<'ROWS'
@VEXLOR_LOCKDOWN_ROWS@
ROWS

say() { printf '%s\n' "$*"; }
fail() {
    printf 'vexlor-popup-lockdown : %s\n' "$*" >&2
    exit 1
}

# Mozilla signs a package with META-INF/mozilla.rsa; a zip names its files in clear.
xpiSigned() { grep -qa 'META-INF/mozilla.rsa' "$root$xpi"; }

# The policies folders of browser <index> the lock-down fills, one a line: those of the
# catalogue taken always, and those taken once one of the paths after their "?" exists.
policyFolders() {
    local entry path entries paths
    read -ra entries <<<"${policies[$1]}"
    for entry in "${entries[@]}"; do
        if [[ $entry != *\?* ]]; then
            echo "$root$entry"
            continue
        fi
        IFS='|' read -ra paths <<<"${entry#*\?}"
        for path in "${paths[@]}"; do
            if [ -e "$root$path" ]; then
                echo "$root${entry%%\?*}"
                break
            fi
        done
    done
}

# Every policies folder of browser <index>, whether filled or not.
allPolicyFolders() {
    local entry entries
    read -ra entries <<<"${policies[$1]}"
    for entry in "${entries[@]}"; do echo "$root${entry%%\?*}"; done
}

# The indexes of the browsers of a family.
browsersOf() {
    local index
    for index in "${!names[@]}"; do
        [ "${families[index]}" != "$1" ] || echo "$index"
    done
}

# The Firefox policies files that the lock-down fills for browser <index>, one a line:
# "<file> <esr|release> <own|shared>". An installation's own file is in its "distribution"
# folder; a shared one, read instead of them all, is for ESR when an ESR installation is there.
firefoxFiles() {
    local folder kind shared=() esr=false
    while read -r folder; do
        if [ "$(basename "$folder")" != distribution ]; then
            shared+=("$folder")
            continue
        fi
        kind=release
        [[ $(dirname "$folder") != *-esr ]] || { kind=esr && esr=true; }
        echo "$folder/policies.json $kind own"
    done < <(policyFolders "$1")
    kind=release
    [ "$esr" = false ] || kind=esr
    for folder in "${shared[@]}"; do echo "$folder/policies.json $kind shared"; done
}

# The Firefox policies files of every browser of the firefox family.
allFirefoxFiles() {
    local index
    for index in $(browsersOf firefox); do firefoxFiles "$index"; done
}

# The name under which the state folder keeps what concerns a file: its path below the root,
# "/" written "_" (none of the policies files' paths holds a "_").
stateName() { printf '%s' "${1#"$root"/}" | tr '/' '_'; }

# Makes a folder and the folders above it, noting those it made so that "off" removes them.
makeFolder() {
    local folder=$1 missing=()
    while [ ! -d "$folder" ]; do
        missing=("$folder" "${missing[@]}")
        folder=$(dirname "$folder")
    done
    for folder in "${missing[@]}"; do
        mkdir -m 755 "$folder"
        echo "$folder" >>"$state/folders"
    done
}

# Writes standard input to a file through a new file renamed over it, readable by all.
writeFile() {
    cat >"$1.new"
    chmod 644 "$1.new"
    mv -f "$1.new" "$1"
}

chromiumPolicies() {
    jq -n --arg force "$(cat "$root$lib/bridge/chromium-extension-id");file://$updates" '{
        ExtensionInstallForcelist: [$force],
        IncognitoModeAvailability: 1,
        BrowserGuestModeEnabled: false,
        BrowserAddPersonEnabled: false,
        NativeMessagingUserLevelHosts: false
    }'
}

# The entries the lock-down sets in a Firefox policies file, as [path, value] pairs under
# "policies". The extension is allowed in private windows, which stay open to the user: it
# sees their tabs as any other's.
firefoxEntries() {
    local weak=$1
    jq -n --arg addon "$addon" --arg url "file://$xpi" --arg pref "$signaturePref" \
        --argjson weak "$weak" '[
        [["ExtensionSettings", $addon],
         {installation_mode: "force_installed", install_url: $url, private_browsing: true}],
        [["DisableSafeMode"], true],
        [["BlockAboutProfiles"], true],
        [["DisableProfileRefresh"], true]
    ] + if $weak then [[["Preferences", $pref], {Value: false, Status: "locked"}]] else [] end'
}

# A policies file's text, or an empty document where there is none.
current() { if [ -e "$1" ]; then cat "$1"; else echo '{}'; fi; }

# Whether a Firefox file of this kind needs the signature check lifted: only Firefox ESR
# honours that, and only an unsigned package needs it.
weakFor() { [ "$1" = esr ] && ! xpiSigned && echo true || echo false; }

mergeFirefox() {
    local file=$1 kind=$2 name entries
    name=$state/$(stateName "$file")
    entries=$(firefoxEntries "$(weakFor "$kind")")
    # A second "on" starts again from what the first found: the package may have changed.
    restoreFirefox "$file"
    # What was there before the first "on" is kept whole, and the entries it replaced apart.
    if [ ! -e "$name.replaced" ]; then
        [ ! -e "$file" ] || cp -p "$file" "$name.before"
        current "$file" | jq --argjson entries "$entries" \
            '(.policies // {}) as $p | [$entries[] | .[0] as $path | [$path, ($p | getpath($path))]]' \
            >"$name.replaced"
    fi
    makeFolder "$(dirname "$file")"
    current "$file" | jq --argjson entries "$entries" \
        'reduce $entries[] as $e (.; setpath(["policies"] + $e[0]; $e[1]))' >"$file.new"
    if [ -e "$file" ]; then chmod --reference="$file" "$file.new"; else chmod 644 "$file.new"; fi
    mv -f "$file.new" "$file"
    cp "$file" "$name.ours"
}

# Puts a Firefox file back: as it was, byte for byte, when nobody changed it since; otherwise
# only the entries the lock-down set go back to what they were.
restoreFirefox() {
    local file=$1 name
    name=$state/$(stateName "$file")
    [ -e "$name.replaced" ] || return 0
    if [ -e "$file" ] && cmp -s "$file" "$name.ours"; then
        if [ -e "$name.before" ]; then mv -f "$name.before" "$file"; else rm -f "$file"; fi
    elif [ -e "$file" ]; then
        jq --slurpfile replaced "$name.replaced" '
            reduce $replaced[0][] as $e (.;
                if $e[1] == null then delpaths([["policies"] + $e[0]])
                else setpath(["policies"] + $e[0]; $e[1]) end)
            | if (.policies.ExtensionSettings // 1) == {} then del(.policies.ExtensionSettings) else . end
            | if (.policies.Preferences // 1) == {} then del(.policies.Preferences) else . end' \
            "$file" >"$file.new"
        chmod --reference="$file" "$file.new"
        mv -f "$file.new" "$file"
        if [ ! -e "$name.before" ] && jq -e '. == {policies: {}}' "$file" >/dev/null; then
            rm -f "$file"
        fi
    fi
    rm -f "$name.replaced" "$name.before" "$name.ours"
}

weakeningNotice() {
    say "ATTENTION : Firefox ESR vérifie les signatures des modules complémentaires, mais le"
    say "  paquet de l'extension installé n'est pas signé par Mozilla. Pour l'imposer, la"
    say "  vérification des signatures est désactivée pour tous les utilisateurs de Firefox ESR et"
    say "  pour TOUS les modules : un module modifié ou malveillant, installé par un utilisateur ou"
    say "  par un programme, n'est plus refusé. Un paquet signé (option VEXLOR_SIGNED_XPI à la"
    say "  construction) évite cela."
    say "WARNING: the extension package installed is not signed by Mozilla, so add-on signature"
    say "  checking is turned off for every user of Firefox ESR and for EVERY add-on: a tampered"
    say "  or malicious add-on, installed by a user or a program, is no longer refused. A signed"
    say "  package (the VEXLOR_SIGNED_XPI build option) avoids this."
}

lockOn() {
    [ -s "$root$xpi" ] && [ -s "$root$lib/bridge/chromium-extension-id" ] ||
        fail "le pont navigateur n'est pas installé ($root$lib/bridge) : installez le paquet vexlor-popup."
    local file kind weak=false release=false
    while read -r file kind _; do
        [ ! -e "$file" ] || jq -e 'type == "object"' "$file" >/dev/null 2>&1 ||
            fail "$file n'est pas un fichier de règles JSON valide : rien n'a été changé."
    done < <(allFirefoxFiles)
    mkdir -p "$state"
    touch "$state/folders"

    local index folder filled
    for index in $(browsersOf chromium); do
        filled=false
        while read -r folder; do
            makeFolder "$folder"
            chromiumPolicies | writeFile "$folder/vexlor-popup.json"
            filled=true
        done < <(policyFolders "$index")
        # Where the package could not put the host manifest, the lock-down does.
        if [ "$filled" = true ] && [ "${hostFolders[index]}" != - ]; then
            makeFolder "$root${hostFolders[index]}"
            writeFile "$root${hostFolders[index]}/$hostManifest" <"$root${hostSources[index]}"
        fi
    done

    while read -r file kind _; do
        mergeFirefox "$file" "$kind"
        [ "$(weakFor "$kind")" = true ] && weak=true
        [ "$kind" = release ] && ! xpiSigned && release=true
    done < <(allFirefoxFiles)

    # The program takes no option to start in the notification area: each user's own choice
    # in its options decides.
    makeFolder "$(dirname "$autostart")"
    writeFile "$autostart" <<'ENTRY'
[Desktop Entry]
Type=Application
Name=Vexlor Popup
Comment=Filtre de pages de Vexlor Popup, lancé pour chaque utilisateur
Exec=/usr/bin/vexlor-popup
Icon=fr.vexlor.popup
Terminal=false
NoDisplay=true
ENTRY

    say "Verrouillage en place. Relancez Chromium et Firefox pour qu'ils l'appliquent ; le"
    say "programme démarrera à la prochaine ouverture de session de chaque utilisateur."
    if [ "$release" = true ]; then
        say "Firefox (hors ESR) refuse tout paquet non signé : l'extension n'y sera pas installée."
    fi
    if [ "$weak" = true ]; then weakeningNotice; fi
}

lockOff() {
    local file index folder
    rm -f "$autostart"
    for index in $(browsersOf chromium); do
        while read -r folder; do rm -f "$folder/vexlor-popup.json"; done < <(allPolicyFolders "$index")
        # A host manifest there is the lock-down's own copy only when it matches the package's.
        file=$root${hostFolders[index]}/$hostManifest
        if [ "${hostFolders[index]}" != - ] && [ -e "$file" ] &&
            cmp -s "$file" "$root${hostSources[index]}"; then
            rm -f "$file"
        fi
    done
    for file in "$state"/*.replaced; do
        [ -e "$file" ] || continue
        file=$(basename "$file" .replaced)
        restoreFirefox "$root/$(printf '%s' "$file" | tr '_' '/')"
    done
    # The folders "on" made go, the deepest first, when nothing else came into them.
    if [ -e "$state/folders" ]; then
        tac "$state/folders" | while read -r file; do rmdir "$file" 2>/dev/null || true; done
    fi
    rm -rf "$state"
    rmdir "$(dirname "$state")" 2>/dev/null || true
    say "Verrouillage retiré. Relancez Chromium et Firefox."
}

# One line per browser and for the log-on entry; returns 0 when everything is in place.
lockStatus() {
    local complete=0 file kind weak=false
    chromiumLine() {
        if [ ! -e "$2" ]; then
            say "$1 : pas de verrouillage"
            complete=3
        elif [ "$(chromiumPolicies)" = "$(cat "$2")" ]; then
            say "$1 : extension imposée, ni navigation privée, ni invité, ni nouveau profil, hôtes de messagerie native des utilisateurs ignorés ($2)"
        else
            say "$1 : règles modifiées depuis la mise en place ($2)"
            complete=3
        fi
    }
    local index folder found role name shared
    for index in $(browsersOf chromium); do
        found=false
        while read -r folder; do
            chromiumLine "${names[index]}" "$folder/vexlor-popup.json"
            found=true
        done < <(policyFolders "$index")
        [ "$found" = true ] || say "${names[index]} : non installé"
    done

    for index in $(browsersOf firefox); do
        found=false
        shared=$(firefoxFiles "$index" | awk '$3 == "shared" && !n++ { print $1 }')
        while read -r file kind role; do
            found=true
            name="${names[index]} ESR"
            [ "$kind" = release ] && name=${names[index]}
            [ "$role" = shared ] && name="${names[index]} (fichier commun)"
            if [ -e "$file" ] && jq -e --argjson entries "$(firefoxEntries false)" \
                '(.policies // {}) as $p | all($entries[]; . as $e | $p | getpath($e[0]) == $e[1])' \
                "$file" >/dev/null 2>&1; then
                local package="paquet non signé"
                xpiSigned && package="paquet signé"
                say "$name : extension imposée ($package), mode de dépannage et gestion des profils retirés des menus ($file)"
            else
                say "$name : pas de verrouillage ($file)"
                complete=3
            fi
            # Whoever lifted the signature check, it is said while it lasts.
            if [ -e "$file" ] && jq -e --arg pref "$signaturePref" \
                '.policies.Preferences[$pref].Value == false' "$file" >/dev/null 2>&1; then
                weak=true
            fi
            if [ -n "$shared" ] && [ "$role" = own ]; then
                say "  (ce fichier est ignoré : $shared passe avant lui)"
            fi
        done < <(firefoxFiles "$index")
        [ "$found" = true ] || say "${names[index]} : non installé"
    done

    if [ -e "$autostart" ]; then
        say "Lancement à l'ouverture de session : pour tous les utilisateurs ($autostart)"
    else
        say "Lancement à l'ouverture de session : non imposé"
        complete=3
    fi
    if [ "$weak" = true ]; then weakeningNotice; fi
    return $complete
}

case "${1:-}" in
on | off)
    if [ "$(id -u)" -ne 0 ] && [ -z "$root" ]; then
        fail "lancez-moi en administrateur (sudo $0 $1)."
    fi
    command -v jq >/dev/null || fail "jq est nécessaire."
    if [ "$1" = on ]; then lockOn; else lockOff; fi
    ;;
status) lockStatus ;;
*)
    say "Usage : vexlor-popup-lockdown on|off|status" >&2
    exit 2
    ;;
esac
