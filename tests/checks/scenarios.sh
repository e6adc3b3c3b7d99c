#!/usr/bin/env bash
# The scenario suite: every scenario in tests/scenarios/cases/ packed into the sim template and run
# as a subprocess on a fresh state folder (docs/scenarios.md).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
python3 "$ROOT/tests/scenarios/run.py" --verbose
