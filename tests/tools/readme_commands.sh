#!/bin/sh
# Runs the README's command-line block as it is written, in a fresh folder,
# with the built strata first on the path. Every command must succeed.
# Usage: readme_commands.sh README STRATA_DIR
set -eu
readme=$1
bin=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The fenced block after the marker line.
awk '/the README commands test runs the next block/ {marked = 1; next}
     marked && /^```sh/ {inside = 1; next}
     inside && /^```/ {exit}
     inside {print}' "$readme" > "$work/commands.sh"
count=$(grep -c '^strata ' "$work/commands.sh" || true)
if [ "$count" -lt 5 ]; then
  echo "the README's command block was not found (or holds $count commands)" >&2
  exit 1
fi
cd "$work"
PATH="$bin:$PATH"
while IFS= read -r line; do
  [ -n "$line" ] || continue
  echo "\$ $line"
  if ! sh -c "$line" > output.txt 2>&1; then
    cat output.txt >&2
    echo "README command failed: $line" >&2
    exit 1
  fi
done < commands.sh
echo "$count README commands ran"
