#!/usr/bin/env bash
# Builds the project and runs the whole test suite.
#   scripts/test.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
"$(pwd)/scripts/deps.sh"
build="${1:-build}"
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$(nproc)"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
