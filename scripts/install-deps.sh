#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/apt-packages.txt that are not
# installed yet. Safe to run any number of times; runs apt only when needed.
#
#   scripts/install-deps.sh [-h|--help]
set -euo pipefail
case "${1-}" in
  -h|--help)
    cat <<'TEXT'
Usage: scripts/install-deps.sh [-h|--help]
Installs the Debian packages of scripts/apt-packages.txt that are missing
(apt-get, as root); does nothing when all are present. No other options.
Exit status: 0 all present or installed; 1 packages missing and not root,
or apt-get failed; 2 usage error.
TEXT
    exit 0 ;;
  "") ;;
  *) echo "install-deps.sh: unexpected argument \"$1\"; it takes none (see --help)" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$here/apt-packages.txt")
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#wanted[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# tshark asks whether non-root users may capture; answer for it.
echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
