#!/usr/bin/env bash
# Installs, with apt-get, what building and testing Tessaly needs and is not
# on the machine yet (Debian 12, as root). Pass extra package names to add.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgtest-dev libgmock-dev
          python3 python3-aiosmtpd sharutils fonts-dejavu-core media-types desktop-file-utils
          libqt6svg6 qtkeychain-qt6-dev dbus-daemon "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
