#!/usr/bin/env bash
# Builds Inkwell (Release, into build/) and starts it, with the file if one is given.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/deps.sh
. "$here/scripts/deps.sh"
# shellcheck disable=SC2086
inkwell_ensure_packages $INKWELL_BUILD_PACKAGES
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" --target inkwell -j"$(nproc)"
exec "$here/build/src/inkwell" "$@"
