#!/usr/bin/env bash
# Installs Strata the way a user would and builds consumers against the
# result: a C program through pkg-config, the same program as C++ and a
# program using the C++ slide façade through find_package(Strata), and Python
# one-liners importing ztxReader and strata from another folder. No LD_LIBRARY_PATH; PYTHONPATH is the Python folder only.
#
# usage: install_test.sh prefix|deb BUILD_DIR VERSION
#   prefix: cmake --install into a temporary prefix
#   deb:    cpack -G DEB, check the control data, dpkg-deb -x into a temporary root
# Environment: STRATA_CONSUMER_FLAGS compiler and linker flags for the
# consumers (the sanitizer flags of a sanitized build); STRATA_PYTHON_PRELOAD
# what the interpreter has to preload for a sanitized module (the interpreter's
# own leaks are not ours to audit).
set -euo pipefail

mode=$1 build=$(cd "$2" && pwd) version=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_root=$(cd "$here/../.." && pwd)
flags=${STRATA_CONSUMER_FLAGS:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH PYTHONPATH

fail() { echo "FAILED: $*" >&2; exit 1; }

expect_field() {  # deb field pattern
  local value
  value=$(dpkg-deb -f "$1" "$2")
  grep -qE "(^|, )$3( |,|$)" <<<"$value" || fail "$2 lacks $3: $value"
}

case $mode in
  prefix)
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
    prefix=$work/prefix
    python_dir=$(echo "$prefix"/lib/python3*/site-packages)
    ;;
  deb)
    (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" \
       >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
    package=$(echo "$work"/package/strata_*.deb)
    [[ -f $package ]] || fail "no package in $work/package"
    [[ $(dpkg-deb -f "$package" Package) == strata ]] || fail "package name"
    [[ $(dpkg-deb -f "$package" Version) == "$version" ]] || fail "package version"
    for dependency in 'libjpeg62-turbo' 'zlib1g' 'libcurl4' 'libopencv-core[0-9.]*' \
                      'libopencv-imgproc[0-9.]*' 'libopencv-imgcodecs[0-9.]*' 'python3-numpy'; do
      expect_field "$package" Depends "$dependency"
    done
    expect_field "$package" Recommends libopenslide0
    dpkg-deb -x "$package" "$work/root"
    prefix=$work/root/usr
    python_dir=$prefix/lib/python3/dist-packages
    ;;
  *) fail "unknown mode $mode" ;;
esac

# What was installed: versioned library with its soname and development link,
# headers, command, Python modules, package files; the library is not copied
# next to the Python modules.
library=$(echo "$prefix"/lib*/libStrata.so."$version")
[[ -f $library ]] || fail "no libStrata.so.$version"
libdir=$(dirname "$library")
soname=libStrata.so.${version%%.*}
readelf -d "$library" | grep -q "Library soname: \[$soname\]" || fail "soname is not $soname"
[[ $(readlink "$libdir/libStrata.so") == "$soname" && $(readlink "$libdir/$soname") == "libStrata.so.$version" ]] ||
  fail "library links"
for file in include/strata/strata.h include/strata/version.h include/strata/slide.h \
            include/strata/status.h include/strata/slide_types.h include/strata/tile_cache.h bin/strata share/strata/web/viewer.js \
            share/strata/web/node_modules/openseadragon/build/openseadragon/openseadragon.min.js; do
  [[ -f $prefix/$file ]] || fail "$file not installed"
done
[[ -f $python_dir/ztxReader.py ]] || fail "ztxReader.py not in $python_dir"
! ls "$python_dir" | grep -q libStrata || fail "library copied next to the Python modules"

# Run paths: relative to the installed file, never into the build.
while IFS= read -r -d '' file; do
  readelf -h "$file" >/dev/null 2>&1 || continue
  paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
  [[ -z $paths ]] && continue
  case $paths in
    *"$build"* | *"$source_root"*) fail "$file has a run path into the build: $paths" ;;
  esac
  for path in ${paths//:/ }; do
    [[ $path == '$ORIGIN'* ]] || fail "$file has a run path not relative to itself: $paths"
  done
done < <(find "$prefix" -type f -print0)
module=$(echo "$python_dir"/_ztxReader*.so)
readelf -d "$module" | grep -q 'RUNPATH.*\$ORIGIN' || fail "the Python module has no run path"

# The command line, and a slide for the consumers.
[[ $("$prefix/bin/strata" --version) == "strata $version" ]] || fail "strata --version"
"$prefix/bin/strata" synth "$work/slide.ztx" --width 700 --height 500 >/dev/null
expected="$version ${version%.*} 700 x 500"

uses_installed_library() {  # program
  local resolved
  resolved=$(realpath "$(ldd "$1" | sed -n 's/.*libStrata[^ ]* => \([^ ]*\).*/\1/p')")
  [[ $resolved == "$libdir"/* ]] || fail "$1 loads libStrata from '$resolved', not from $libdir"
}

# C through pkg-config; the run path is the consumer's own choice.
export PKG_CONFIG_PATH=$libdir/pkgconfig
pc_libdir=$(pkg-config --variable=libdir strata)
# shellcheck disable=SC2046,SC2086
cc -std=c99 $flags $(pkg-config --cflags strata) "$here/consumer/consumer.c" -o "$work/c_consumer" \
  $(pkg-config --libs strata) -Wl,-rpath,"$pc_libdir"
[[ $("$work/c_consumer" "$work/slide.ztx") == "$expected" ]] || fail "C consumer"
uses_installed_library "$work/c_consumer"

# C++ through the CMake package.
cmake -S "$here/consumer" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cxx" >/dev/null
[[ $("$work/cxx/consumer" "$work/slide.ztx") == "$expected" ]] || fail "C++ consumer"
uses_installed_library "$work/cxx/consumer"
result=$("$work/cxx/slide_consumer" "$work/slide.ztx")
[[ $result == "ztx 700 x 500, 3 levels, alpha 255 0" ]] || fail "C++ façade consumer: $result"

# Python from another folder, with only the Python folder on its path.
mkdir "$work/elsewhere"
python_consumer() {  # code [arguments]
  (cd "$work/elsewhere" &&
    PYTHONPATH=$python_dir LD_PRELOAD=${STRATA_PYTHON_PRELOAD:-} \
    ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 /usr/bin/python3 -c "$@")
}
result=$(python_consumer "import sys, ztxReader; r = ztxReader.reader(); ok = r.ReadInfo(sys.argv[1]); print(ztxReader.__file__, ztxReader.__version__, ok, r.getWidth(), r.getHeight(), r.ReadRoi(0, 0, 4, 4, 20.0).size)" "$work/slide.ztx")
[[ $result == "$python_dir/ztxReader.py $version True 700 500 48" ]] || fail "Python consumer: $result"
result=$(python_consumer "import strata; print(strata.__file__, strata.__version__)")
[[ $result == "$python_dir/strata/__init__.py $version" ]] || fail "Python package: $result"
echo "install_test $mode: ok"
