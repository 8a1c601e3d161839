#!/usr/bin/env bash
# Installs what is missing, builds the optimised preset and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-debian.sh
cmake --preset default >/dev/null
cmake --build --preset default
echo "Nothing to run yet: the program is not built yet. Tests: ctest --preset default"
