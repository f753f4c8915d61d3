#!/usr/bin/env bash
# The Debian package as a fresh Debian 12 machine gets it: built by CPack from a build of the
# tree (default: build/), free of lintian errors, installed with dpkg -i, its systemd unit
# verified, and the unit's commands run directly (nothing here needs systemd running).
# It installs and at the end purges the package (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
build=${1:-build}
bash scripts/deps.sh lintian dpkg-dev systemd curl
cmake --build "$build" -j"$(nproc)" --target fluxmere fluxmere-report fluxmere-web package_documents
rm -f "$build"/fluxmere_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/fluxmere_*.deb)
lintian --fail-on error "$deb"
$sudo dpkg -i "$deb"
trap '$sudo dpkg --purge fluxmere >/dev/null' EXIT
unit=/usr/lib/systemd/system/fluxmere-web.service
systemd-analyze verify "$unit"
for command in fluxmere fluxmere-report fluxmere-web; do
    man -l "/usr/share/man/man1/$command.1.gz" >/dev/null
done

# Installed for the system, a user's data folder is their own, made ready on first use.
export QT_QPA_PLATFORM=offscreen
home=$(mktemp -d)
HOME=$home fluxmere --check-setup >/dev/null
test -f "$home/.local/share/fluxmere/data/Krugel.db"
rm -rf "$home"

# The unit's own commands, as systemd would run them, on a port of the test's own.
state=$(mktemp -d)
trap 'rm -rf "$state"; $sudo dpkg --purge fluxmere >/dev/null' EXIT
command_of() { sed -n "s|^$1=||p" "$unit" | sed "s|/var/lib/fluxmere|$state|g"; }
$(command_of ExecStartPre)
$(command_of ExecStart | sed 's|--port 8080|--port 18080|') &
server=$!
for _ in $(seq 50); do
    curl -sf http://127.0.0.1:18080/ >/dev/null && break
    sleep 0.2
done
curl -sf http://127.0.0.1:18080/ | grep -q '<html'
kill -TERM "$server"
wait "$server"
test -f "$state/data/Setup.txt"
echo "The package installs, its unit verifies and its server starts and stops." >&2
