#!/usr/bin/env bash
# Installs the Debian packages the build needs, and any named as arguments (the test runs'
# extras, such as sbcl), when any is missing.
set -euo pipefail
# qt6-svg-dev writes the report's plots, drawn with QPainter; the fonts measure the texts
# drawn offscreen. The Qt tools turn the translations into the program's resources, and Qt's own
# translations give its standard buttons the participant's language. Xvfb and xdotool give the
# tests of a person's endings a real display to type on. pybind11 builds the Python module;
# numpy serves its environment, cloudpickle and typing-extensions the Gymnasium it is tested with.
# Qt's HTTP server and WebSockets serve the sitting to browsers; Chromium with its driver and
# Selenium play it in the tests, python3-websocket as many participants at once. help2man
# writes each command's man page for the Debian package from its --help.
packages=(cmake gcc g++ make qt6-base-dev libgl-dev libsqlite3-dev python3 fonts-dejavu-core fonts-liberation2
          qt6-svg-dev qt6-tools-dev qt6-l10n-tools qt6-translations-l10n xvfb xdotool
          pybind11-dev python3-pybind11 python3-numpy python3-cloudpickle
          python3-typing-extensions qt6-httpserver-dev qt6-websockets-dev chromium chromium-driver
          python3-selenium python3-websocket help2man "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
