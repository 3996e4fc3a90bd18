#!/usr/bin/env bash
# The man pages built from docs/man must render without a single warning from man and groff.
set -u
pages=("$ORV_BINARY_DIR"/man/*.1)
[ -e "${pages[0]}" ] || { echo "no man pages built (scdoc missing): skipped"; exit 77; }
failures=0
for page in "${pages[@]}"; do
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "FAIL: $page:"; echo "$warnings"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ]
