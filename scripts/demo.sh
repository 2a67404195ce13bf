#!/usr/bin/env bash
# Records the demo MP4 the way a game would use the kit.
# Usage: scripts/demo.sh [output.mp4]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
echo "demo: not yet available"
