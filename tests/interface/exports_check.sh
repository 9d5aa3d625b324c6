#!/bin/sh
# Checks that a built libStrata.so exports exactly the C functions declared in
# strata.h, the members of CImageOperationManager and the C++ slide façade
# (strata::Slide, strata::TileCache), and nothing else.
# Usage: exports_check.sh <libStrata.so> <strata.h>
set -eu
library=$1
header=$2

expected=$(sed -nE 's/^STRATA_API[^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\(.*/\1/p' "$header" | sort -u)
expected_count=$(printf '%s\n' "$expected" | wc -l)
if [ "$expected_count" -ne 31 ]; then
  echo "expected 31 C exports in $header, found $expected_count" >&2
  exit 1
fi

defined=$(nm -D --defined-only "$library" | awk '{print $NF}' | sed 's/@.*//' | sort -u)
status=0

# Every declared function is there.
for name in $expected; do
  if ! printf '%s\n' "$defined" | grep -qx "$name"; then
    echo "missing export: $name" >&2
    status=1
  fi
done

# Everything else is a CImageOperationManager or façade member or a linker marker.
for symbol in $defined; do
  case "$symbol" in
    _init | _fini | __bss_start | _edata | _end) continue ;;
  esac
  if printf '%s\n' "$expected" | grep -qx "$symbol"; then
    continue
  fi
  demangled=$(printf '%s\n' "$symbol" | c++filt)
  case "$demangled" in
    CImageOperationManager::* | strata::Slide::* | strata::TileCache::*) ;;
    *)
      echo "unexpected export: $symbol ($demangled)" >&2
      status=1
      ;;
  esac
done

members=$(printf '%s\n' "$defined" | c++filt | grep -c '^CImageOperationManager::' || true)
if [ "$members" -eq 0 ]; then
  echo "no CImageOperationManager members exported" >&2
  status=1
fi

facade=$(printf '%s\n' "$defined" | c++filt | grep -c '^strata::Slide::Open' || true)
if [ "$facade" -eq 0 ]; then
  echo "strata::Slide::Open is not exported" >&2
  status=1
fi

[ "$status" -eq 0 ] && echo "exports ok: $expected_count C functions, $members members"
exit "$status"
