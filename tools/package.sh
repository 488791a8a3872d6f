#!/usr/bin/env bash
# Installs what is missing, builds a clean release tree of the installed program and makes its
# Debian package with CPack. The path of the package is the last line printed.
# Usage: package.sh [build-dir [cmake options...]]    (build-dir defaults to build-package)
# The firmware release it carries comes from the environment, as the CMake variables of the same
# names: ORVANTA_FIRMWARE (its DfuSe file), ORVANTA_FIRMWARE_BIN (its raw image),
# ORVANTA_FIRMWARE_SHA256 (its pinned digest), ORVANTA_FIRMWARE_SIGNATURE (its minisign
# signature) and ORVANTA_FIRMWARE_TRUSTED_KEYS (public key files, separated by ';', in place of
# the tree's own); without them, the development firmware, unsigned.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
dir=${1:-build-package}
shift || true

# dpkg-shlibdeps (dpkg-dev) and file, which CPack uses to find the program's libraries; ccache
# lets the release tree reuse objects of earlier builds.
bash tools/install_deps.sh dpkg-dev file ccache
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top}

# Debian's hardening flags: fortified functions, stack protector, read-only relocations bound
# at start, and file names relative to the source tree in the debugging data.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

firmware=()
for variable in ORVANTA_FIRMWARE ORVANTA_FIRMWARE_BIN ORVANTA_FIRMWARE_SHA256 \
    ORVANTA_FIRMWARE_SIGNATURE ORVANTA_FIRMWARE_TRUSTED_KEYS; do
    value=${!variable:-}
    # Files as absolute paths: the build runs in its own tree.
    if [ -n "$value" ] && [ "$variable" != ORVANTA_FIRMWARE_SHA256 ]; then
        IFS=';' read -r -a files <<<"$value"
        value=$(for f in "${files[@]}"; do realpath -- "$f"; done | paste -sd ';')
    fi
    firmware+=("-D$variable=$value")
done

rm -rf "$dir"
# dfu-util 0.9 is kept beside the plain build's, so that a clean tree needs no second download.
bash tools/build.sh "$dir" -DORVANTA_PACKAGE=ON -DORVANTA_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DORVANTA_DFU_UTIL_CACHE="$top/build/dfu-util-0.9" "${firmware[@]}" "$@"
(cd "$dir" && cpack -G DEB)
deb=$(find "$(cd "$dir" && pwd)" -maxdepth 1 -name '*.deb' -print)
[ -f "$deb" ] || { echo "package.sh: no package was made in $dir" >&2; exit 1; }
echo "$deb"
