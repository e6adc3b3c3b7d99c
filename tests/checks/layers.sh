#!/usr/bin/env bash
# The layers depend one way: run control (app/) on the rest, never the rest on run control. A
# component that includes an app/ header fails the check, naming the line.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"
if hits=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"app/' package discovery device flash support platform sim); then
  echo "layers: these components include run control (app/):" >&2
  echo "$hits" >&2
  exit 1
fi
echo "layers: no component below app/ includes it"
