#!/usr/bin/env bash
# Fetches dfu-util 0.9 (Debian bullseye's package) into a cache directory without
# installing it, and prepares the executable that the program embeds:
#   <out>/dfu-util            patched to load libusb from its own directory
#   <out>/libusb-1.0.0.dylib  the system's libusb-1.0
#   <out>/dfu-suffix          from the same package, for checking the DfuSe file
#   <out>/VERSION             "0.9" or "system-fallback"
# The mirror is taken from the system's own apt configuration, so no host name is
# written here. Usage: fetch_dfu_util.sh <out-dir>
set -euo pipefail

out=${1:?usage: fetch_dfu_util.sh <out-dir>}
mkdir -p "$out"
out=$(cd "$out" && pwd)
pkg_version="0.9-1+b1"

if [ -x "$out/dfu-util" ] && [ -f "$out/VERSION" ]; then
    exit 0 # cached: rebuilds need no network
fi

# awk reads the whole listing: stopping early would kill ldconfig with SIGPIPE under pipefail.
libusb=$(ldconfig -p | awk '/libusb-1\.0\.so\.0 /{if (!found) found = $NF} END{print found}')
if [ -z "$libusb" ] || [ ! -f "$libusb" ]; then
    echo "fetch_dfu_util: libusb-1.0 not found (install libusb-1.0-0)" >&2
    exit 1
fi

mirror_uri() {
    # deb822 sources first (Debian 12 default), then one-line sources.
    local f uri
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        uri=$(awk 'tolower($1)=="uris:"{print $2; exit}' "$f")
        case "$uri" in *debian-security*|"") ;; *) echo "$uri"; return 0 ;; esac
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        uri=$(awk '$1=="deb"{for(i=2;i<=NF;i++) if($i ~ /^[a-z]+:\/\// && $i !~ /security/ && !found) found=$i} END{print found}' "$f")
        [ -n "$uri" ] && { echo "$uri"; return 0; }
    done
    return 1
}

fetch_bullseye() {
    local work="$out/apt" uri
    uri=$(mirror_uri) || return 1
    rm -rf "$work"
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/sourceparts" "$work/deb"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bullseye main" > "$work/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$work/sources.list"
                -o "Dir::Etc::SourceParts=$work/sourceparts"
                -o "Dir::State::Lists=$work/lists"
                -o "Dir::Cache=$work/cache"
                -o "APT::Sandbox::User=root"
                -o "Debug::NoLocking=1")
    apt-get "${opts[@]}" -qq update || return 1
    (cd "$work/deb" && apt-get "${opts[@]}" -qq download "dfu-util=$pkg_version") || return 1
    dpkg-deb -x "$work/deb"/dfu-util_*.deb "$work/root" || return 1
    cp "$work/root/usr/bin/dfu-util" "$out/dfu-util.new"
    cp "$work/root/usr/bin/dfu-suffix" "$out/dfu-suffix"
    rm -rf "$work"
}

if fetch_bullseye; then
    version="0.9"
else
    echo "WARNING: could not fetch dfu-util $pkg_version from bullseye;" \
         "embedding the system's dfu-util instead. Its version banner differs," \
         "so the execution test will report the mismatch." >&2
    sys=$(command -v dfu-util || true)
    if [ -z "$sys" ]; then
        echo "fetch_dfu_util: no system dfu-util either (install dfu-util)" >&2
        exit 1
    fi
    cp "$sys" "$out/dfu-util.new"
    cp "$(command -v dfu-suffix)" "$out/dfu-suffix" 2>/dev/null || true
    version="system-fallback"
fi

cp "$libusb" "$out/libusb-1.0.0.dylib"
chmod 0644 "$out/libusb-1.0.0.dylib"
# One patchelf operation per call: combining them misbehaves on patchelf 0.14.
patchelf --replace-needed libusb-1.0.so.0 libusb-1.0.0.dylib "$out/dfu-util.new"
patchelf --set-rpath '$ORIGIN' "$out/dfu-util.new"
chmod 0755 "$out/dfu-util.new"
mv "$out/dfu-util.new" "$out/dfu-util"
echo "$version" > "$out/VERSION"
