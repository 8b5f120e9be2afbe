#!/usr/bin/env bash
# Continuous integration: every fuzz harness for a short, bounded time.
set -euo pipefail
exec bash "$(dirname "$0")/../fuzz.sh" "${NUBO_FUZZ_SECONDS:-20}"
