#!/usr/bin/env bash
# Prints the update manifest that Chromium's policy points to, for the extension package at
# the given place: updates-xml.sh <extension id> <version> <path of the .crx>
set -euo pipefail
cat <<XML
<?xml version='1.0' encoding='UTF-8'?>
<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>
  <app appid='$1'>
    <updatecheck codebase='file://$3' version='$2' />
  </app>
</gupdate>
XML
