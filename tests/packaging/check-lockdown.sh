#!/usr/bin/env bash
# vexlor-popup-lockdown on, status and off on a scratch root holding Chromium, Google Chrome,
# Firefox ESR and Firefox release: the policies and the log-on entry appear with the right
# content, the Firefox files are merged, and "off" leaves every file as it was, byte for byte.
set -euo pipefail
lockdown=$1 # as the build made it, with the browsers of the catalogue
export VEXLOR_LOCKDOWN_ROOT
VEXLOR_LOCKDOWN_ROOT=$(mktemp -d)
trap 'rm -rf "$VEXLOR_LOCKDOWN_ROOT"' EXIT
cd "$VEXLOR_LOCKDOWN_ROOT"
bridge=usr/lib/vexlor-popup/bridge
mkdir -p $bridge usr/lib/firefox-esr/distribution usr/lib/firefox etc/firefox \
    etc/chromium/native-messaging-hosts opt/google/chrome var/lib
echo abcdefghijklmnopabcdefghijklmnop >$bridge/chromium-extension-id
echo '{"name": "fr.vexlor.popup_bridge"}' >etc/chromium/native-messaging-hosts/fr.vexlor.popup_bridge.json
esr=usr/lib/firefox-esr/distribution/policies.json
release=usr/lib/firefox/distribution/policies.json
printf '{ "policies": {"DisableTelemetry": true,\n "DisableSafeMode": false,
  "ExtensionSettings": {"*": {"installation_mode": "blocked"}}}}' >$esr
snapshot() { find . \( -path ./var/lib/vexlor-popup -o -path ./$bridge \) -prune -o -printf '%p %m %s\n' | sort; md5sum $esr; }
before=$(snapshot)
check() { jq -e "$2" "$1" >/dev/null || { echo "$1 fails $2:" && cat "$1" && exit 1; }; }

for signed in no yes; do
    # The signed row starts from an unsigned lock-down, as after an upgrade of the package.
    [ $signed = no ] || { printf PK >$bridge/vexlor-popup-bridge.xpi && "$lockdown" on >/dev/null; }
    printf 'PK %s' "$([ $signed = yes ] && echo META-INF/mozilla.rsa)" >$bridge/vexlor-popup-bridge.xpi
    on=$("$lockdown" on) && "$lockdown" on >/dev/null
    status=$("$lockdown" status)
    for policy in etc/chromium/policies/managed/vexlor-popup.json etc/opt/chrome/policies/managed/vexlor-popup.json; do
        check $policy '. == {ExtensionInstallForcelist: ["abcdefghijklmnopabcdefghijklmnop;file:///usr/lib/vexlor-popup/bridge/updates.xml"],
            IncognitoModeAvailability: 1, BrowserGuestModeEnabled: false, BrowserAddPersonEnabled: false,
            NativeMessagingUserLevelHosts: false}'
    done
    cmp etc/opt/chrome/native-messaging-hosts/fr.vexlor.popup_bridge.json etc/chromium/native-messaging-hosts/fr.vexlor.popup_bridge.json
    for file in $esr $release; do
        check "$file" '.policies | .DisableSafeMode and .BlockAboutProfiles and .DisableProfileRefresh
            and .ExtensionSettings["popup-bridge@vexlor.fr"] == {installation_mode: "force_installed",
                install_url: "file:///usr/lib/vexlor-popup/bridge/vexlor-popup-bridge.xpi", private_browsing: true}'
    done
    check $esr '.policies | .DisableTelemetry and .ExtensionSettings["*"].installation_mode == "blocked"'
    # Only an unsigned package on Firefox ESR lifts the signature check, and then says so.
    weak=$([ $signed = no ] && echo true || echo false)
    check $esr "(.policies.Preferences[\"xpinstall.signatures.required\"] == {Value: false, Status: \"locked\"}) == $weak"
    check $release '.policies.Preferences == null'
    [ "$(grep -c 'TOUS les modules' <<<"$on$status")" = "$([ "$weak" = true ] && echo 2 || echo 0)" ]
    [ "$(grep -c 'extension imposée' <<<"$status")" = 4 ]
    desktop-file-validate etc/xdg/autostart/fr.vexlor.popup.desktop
    grep -qx 'Exec=/usr/bin/vexlor-popup' etc/xdg/autostart/fr.vexlor.popup.desktop
    "$lockdown" off >/dev/null
    [ "$(snapshot)" = "$before" ] || { diff <(echo "$before") <(snapshot); exit 1; }
done

# An entry changed while the lock-down was on stays; only the lock-down's own go.
"$lockdown" on >/dev/null
jq '.policies.DisableTelemetry = false' $esr >edited && mv edited $esr
"$lockdown" off >/dev/null
check $esr '.policies == {DisableTelemetry: false, DisableSafeMode: false, ExtensionSettings: {"*": {installation_mode: "blocked"}}}'
[ ! -e $release ] && [ ! -e var/lib/vexlor-popup ]
status=0 && "$lockdown" status >/dev/null || status=$?
[ $status = 3 ]
# With a shared file, Firefox reads it alone: the lock-down fills it too.
mkdir -p etc/firefox/policies && echo '{"policies": {}}' >etc/firefox/policies/policies.json
"$lockdown" on >/dev/null
check etc/firefox/policies/policies.json '.policies.ExtensionSettings["popup-bridge@vexlor.fr"].installation_mode == "force_installed"'
"$lockdown" off >/dev/null
[ "$(cat etc/firefox/policies/policies.json)" = '{"policies": {}}' ]
echo "lock-down: on, status and off as expected"
