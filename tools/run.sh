#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool with the given options
# (for example --use-simulator). Without a display it runs under xvfb-run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash tools/install_deps.sh
bash tools/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" build/OrvantaFirmwareUpgradeTool "$@"
fi
exec build/OrvantaFirmwareUpgradeTool "$@"
