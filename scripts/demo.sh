#!/usr/bin/env bash
# The gateway's main job, as far as it is built: see README.
set -euo pipefail
build=${1:-build}
echo "sipline demo: the gateway program is not built yet; what exists is the support library."
echo "Run 'make test' to exercise it."
