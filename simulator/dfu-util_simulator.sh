#!/usr/bin/env bash
#
# dfu-util_simulator.sh: plays dfu-util 0.9 and one or two Orvanta units in the STM32F4 ROM
# bootloader, so that the upgrade tool can be tried and tested without hardware.
#
#   dfu-util_simulator.sh --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]
#
# NAME is version, list, upload_OTP, upload_FW, download_FW or setup_prepared_config. For all
# but the last, the dfu-util arguments decide what happens (-V, -l, -U, -D with -d, -a, -s,
# -S), and standard output, standard error, the files written and the exit codes are those of
# dfu-util 0.9: the version banner first, "dfu-util: ..." errors on standard error, 0 on
# success and 74 for nearly every failure. setup_prepared_config switches to the prepared
# configuration named by its last argument (see the README). --fast-progress makes the
# transfers quick; without it a 400 kB download takes about 25 s, as on a unit.
#
# The state between runs (the units attached, their OTP and flash images, failure modes)
# lies in $ORVANTA_SIMULATOR_STATE_DIR, by default
# ${XDG_STATE_HOME:-$HOME/.local/state}/orvanta-dfu-simulator:
#   config              the name of the configuration in use; missing: the default is set up
#   order               the ids of the attached units in listing order (attached last first)
#   units/<id>/serial   the unit's USB serial (hexadecimal)
#   units/<id>/devnum, path      its USB address and port, as listed
#   units/<id>/otp.bin  its 512-byte OTP area (alt 2, 0x1FFF7800)
#   units/<id>/flash.bin         its flash from 0x08000000 (alt 0); bytes beyond it read 0xFF
#   units/<id>/flash.pending     "desired" or "desired_changed": the flash is the desired
#                       firmware (changed in a few bytes), not yet learnt (see below)
#   units/<id>/fail_download     every download fails before anything is erased
#   units/<id>/lost_during_download   the next download stops part-way and the unit goes
#   units/<id>/absent_scans      the unit is gone for this many more listings
#   units/<id>/deny_access       this user may not open the unit: it is not listed, and
#                       "Cannot open DFU device 0483:df11" goes to standard error
#   units/<id>/busy     another program has claimed the unit: -U and -D cannot claim it
#   lock                held (flock) by the run that uses the state
#
# The desired firmware is learnt, the first time a unit that should hold it is read or
# written, from the DfuSe file named by $ORVANTA_SIMULATOR_DESIRED_DFU or else from the
# "firmware.dfu" beside the file being uploaded to (the upgrade tool extracts it there).
#
# Only bash, POSIX tools (od, head, tail, tr, wc, mv, mkdir, sleep) and flock are used; the
# CRC of a DfuSe file's suffix is checked with gzip when gzip is there.

set -u
export LC_ALL=C
umask 077

readonly EX_USAGE=64 EX_SOFTWARE=70 EX_IOERR=74
readonly SELF=${0##*/}
readonly DEFAULT_CONFIG=older_revision
readonly LOCK_WAIT_S=120 # longer than the slowest simulated download
readonly CONFIGURATIONS="no_unit older_revision desired_firmware desired_revision_differs
other_product blank_otp unknown_product foreign_firmware two_units download_fails
lost_during_download no_access unit_busy"

STATE_DIR=${ORVANTA_SIMULATOR_STATE_DIR:-${XDG_STATE_HOME:-$HOME/.local/state}/orvanta-dfu-simulator}
readonly UNITS_DIR=$STATE_DIR/units

readonly FLASH_BASE=$((0x08000000))
readonly OTP_BASE=$((0x1FFF7800))
readonly XFER_SIZE=2048
# A unit writes about 16 bytes per millisecond and reads about 270.
readonly DOWNLOAD_BYTES_PER_MS=16
readonly UPLOAD_BYTES_PER_MS=270
# Listings during which a unit lost in a download stays away (the tool lists every 0.5 s).
readonly ABSENT_SCANS=6

FAST=0
QUIET=0 # set while reading a DfuSe file for the simulator itself: no output

# ---------------------------------------------------------------------------------------------
# Output in dfu-util's manner

banner() {
    printf '%s\n' "dfu-util 0.9" "" \
        "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc." \
        "Copyright 2010-2016 Tormod Volden and Stefan Schmidt" \
        "This program is Free Software and has ABSOLUTELY NO WARRANTY" \
        "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/" ""
}

say() { ((QUIET)) || printf '%s\n' "$*"; }
say_n() { ((QUIET)) || printf '%s' "$*"; }
warnx() { ((QUIET)) || printf 'dfu-util: %s\n' "$*" >&2; }
die() { # code message
    local code=$1
    shift
    warnx "$*"
    exit "$code"
}
# Problems of the simulator itself (bad command line, broken state), not of dfu-util.
usage_error() {
    printf '%s: %s\n' "$SELF" "$*" >&2
    exit "$EX_USAGE"
}

readonly MARKS_FULL='========================='
readonly MARKS_NONE='                         '
LAST_MARKS=-1
STEP_MS=0 # the simulated time one of the 25 marks takes
# dfu-util's progress bar: redrawn after a carriage return whenever it grows.
progress() { # label current total
    local label=$1 cur=$2 max=$3 marks
    ((max < cur)) && max=$((cur + 1))
    ((max == 0 && cur == 0)) && max=1
    marks=$((25 * cur / max))
    ((marks > 25)) && marks=25
    ((marks == LAST_MARKS)) && return 0
    ((LAST_MARKS >= 0 && marks > LAST_MARKS)) && pause_ms $((STEP_MS * (marks - LAST_MARKS)))
    LAST_MARKS=$marks
    printf '\r%s\t[%s] %3d%% %12d bytes' "$label" "${MARKS_FULL:0:marks}${MARKS_NONE:0:25-marks}" \
        $((100 * cur / max)) "$cur"
    ((marks == 25)) && printf '\n%s done.\n' "$label"
    return 0
}

pause_ms() {
    local ms=$1 s
    ((FAST || ms <= 0)) && return 0
    printf -v s '%d.%03d' $((ms / 1000)) $((ms % 1000))
    sleep "$s"
}

# ---------------------------------------------------------------------------------------------
# Bytes in files

size_of() { # file -> REPLY (0 when missing)
    if [ -f "$1" ]; then REPLY=$(($(wc -c <"$1"))); else REPLY=0; fi
}
bytes_at() { # file offset count -> BYTES (unsigned decimal values)
    # shellcheck disable=SC2207
    BYTES=($(od -An -tu1 -j "$2" -N "$3" "$1" 2>/dev/null))
}
hex_at() { # file offset count -> REPLY
    REPLY=$(od -An -tx1 -j "$2" -N "$3" "$1" 2>/dev/null | tr -d ' \n')
}
le32_at() { # file offset -> REPLY
    bytes_at "$1" "$2" 4
    ((${#BYTES[@]} == 4)) || return 1
    REPLY=$((BYTES[0] | BYTES[1] << 8 | BYTES[2] << 16 | BYTES[3] << 24))
}
copy_range() { # file offset count: the bytes there, as many as the file holds
    (($3 > 0)) || return 0
    [ -f "$1" ] || return 0
    tail -c +$(($2 + 1)) "$1" | head -c "$3"
}
erased() { # count: that many 0xFF bytes
    (($1 > 0)) || return 0
    head -c "$1" /dev/zero | tr '\000' '\377'
}
hex_bytes() { # "12 47 23 01": those bytes
    local b f=''
    for b in "$@"; do f+="\\x$b"; done
    printf "$f"
}
le32() { # value: its four bytes, least significant first
    local f
    printf -v f '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
        $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
    printf "$f"
}
text_field() { # text: a 32-byte field, the text (at most 31 bytes) padded with NUL bytes
    local text=${1:0:31}
    printf '%s' "$text"
    head -c $((32 - ${#text})) /dev/zero
}

# ---------------------------------------------------------------------------------------------
# The units' memories

# The alternate settings of the STM32F4 ROM bootloader's DFU interface, as it names them.
alt_name() {
    case $1 in
    0) REPLY='@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg' ;;
    1) REPLY='@Option Bytes  /0x1FFFC000/01*016 e' ;;
    2) REPLY='@OTP Memory /0x1FFF7800/01*512 e,01*016 e' ;;
    3) REPLY='@Device Feature/0xFFFF0000/01*004 e' ;;
    *) return 1 ;;
    esac
}

# The DfuSe memory layout in an alternate setting's name: "@name/address/count*size<unit><type>,..."
# with type a to g (bit 0 readable, bit 1 erasable, bit 2 writeable). Fills SEG_START, SEG_END,
# SEG_PAGE and SEG_TYPE, one entry per group of equal pages.
memory_layout() {
    local rest groups group count size type address
    alt_name "$1" || return 1
    rest=${REPLY#*/}
    address=$((${rest%%/*}))
    IFS=, read -ra groups <<<"${rest#*/}"
    SEG_START=() SEG_END=() SEG_PAGE=() SEG_TYPE=()
    for group in "${groups[@]}"; do
        count=$((10#${group%%\**}))
        group=${group#*\*}
        size=$((10#${group%%[!0-9]*}))
        group=${group#"${group%%[!0-9]*}"}
        group=${group// /}
        case $group in
        K*) size=$((size * 1024)) group=${group#K} ;;
        M*) size=$((size * 1024 * 1024)) group=${group#M} ;;
        esac
        case $group in
        a) type=1 ;; b) type=2 ;; c) type=3 ;; d) type=4 ;; e) type=5 ;; f) type=6 ;; *) type=7 ;;
        esac
        SEG_START+=("$address")
        SEG_PAGE+=("$size")
        SEG_TYPE+=("$type")
        address=$((address + count * size))
        SEG_END+=("$address")
    done
}

find_segment() { # address -> SEGMENT index, or failure
    local i
    for ((i = 0; i < ${#SEG_START[@]}; i++)); do
        if (($1 >= SEG_START[i] && $1 < SEG_END[i])); then
            SEGMENT=$i
            return 0
        fi
    done
    return 1
}

page_start() { # address in segment SEGMENT -> REPLY
    REPLY=$((SEG_START[SEGMENT] + ($1 - SEG_START[SEGMENT]) / SEG_PAGE[SEGMENT] * SEG_PAGE[SEGMENT]))
}

# The firmware image of a unit that has not got the desired firmware: a Cortex-M vector table,
# the firmware information block at byte 428, code-like bytes and erased flash at the end.
write_firmware() { # file "type b1 b2 b3" product revision date tag
    local file=$1 product=$2 name=$3 revision=$4 date=$5 tag=$6 i f='' ramp='' size=32768
    {
        le32 $((0x20020000))
        for ((i = 1; i < 107; i++)); do le32 $((FLASH_BASE + 0x400 + 8 * i + 1)); done
        hex_bytes 12 47 23 01
        # shellcheck disable=SC2086
        hex_bytes $product
        text_field "$name"
        text_field "$revision"
        text_field "Creation date" && text_field "$date"
        text_field "Creation time" && text_field "10:41:52"
        text_field "Git hash of FW" && text_field "41c07a2be95d"
        text_field "Git tag" && text_field "$tag"
        text_field "Firmware compiler version" && text_field "arm-none-eabi-gcc 9.2.1"
        hex_bytes 13 47 23 01
        for ((i = 0; i < 256; i++)); do printf -v f '%s\\x%02x' "$ramp" $(((i * 37 + 11) & 255)) && ramp=$f; done
        for ((i = 0; i < size / 256; i++)); do printf "$ramp"; done
    } | head -c $((size - 256)) >"$file"
    erased 256 >>"$file"
}

write_otp() { # file "type b1 b2 b3", or "blank"
    {
        if [ "$2" != blank ]; then
            hex_bytes 11 47 23 01
            # shellcheck disable=SC2086
            hex_bytes $2
            hex_bytes 01 00 25 06 02 00 4a 10 # hardware revision and production data
            erased 496
        else
            erased 512
        fi
    } >"$1"
}

make_unit() { # id serial devnum path
    local dir=$UNITS_DIR.new/$1
    mkdir -p "$dir"
    printf '%s\n' "$2" >"$dir/serial"
    printf '%s\n' "$3" >"$dir/devnum"
    printf '%s\n' "$4" >"$dir/path"
    hex_bytes aa 55 ec 13 ff ff 00 00 ff ff 00 00 ff ff 00 00 >"$dir/option_bytes.bin"
}

lumo7_older() { # id: a Lumo-7 with firmware B7
    write_otp "$UNITS_DIR.new/$1/otp.bin" "03 ff ff ff"
    write_firmware "$UNITS_DIR.new/$1/flash.bin" "03 ff ff ff" LUMO7 B7 2025-03-14 LUMO7-B7
}

k5_firmware() { # file
    write_firmware "$1" "2b ff ff ff" K5 C3 2025-01-20 K5-C3
}

# Builds the units of a configuration in units.new; fails for an unknown name.
build_configuration() {
    rm -rf "$UNITS_DIR.new"
    mkdir -p "$UNITS_DIR.new"
    local order=a new=$UNITS_DIR.new/a
    case $1 in
    no_unit)
        order=''
        ;;
    older_revision)
        make_unit a 3776367B3036 5 1-1 && lumo7_older a
        ;;
    desired_firmware)
        make_unit a 3776367B3137 5 1-1 && write_otp "$new/otp.bin" "03 ff ff ff"
        echo desired >"$new/flash.pending"
        ;;
    desired_revision_differs)
        make_unit a 3776367B3238 5 1-1 && write_otp "$new/otp.bin" "03 ff ff ff"
        echo desired_changed >"$new/flash.pending"
        ;;
    other_product)
        make_unit a 2B4D5E0A1F33 5 1-1 && write_otp "$new/otp.bin" "2b ff ff ff"
        k5_firmware "$new/flash.bin"
        ;;
    blank_otp)
        make_unit a 3776367B3439 5 1-1 && write_otp "$new/otp.bin" blank
        write_firmware "$new/flash.bin" "03 ff ff ff" LUMO7 B7 2025-03-14 LUMO7-B7
        ;;
    unknown_product)
        make_unit a 2A0C61E5B7D2 5 1-1 && write_otp "$new/otp.bin" "2a ff ff ff"
        write_firmware "$new/flash.bin" "2a ff ff ff" X42 A1 2024-11-02 X42-A1
        ;;
    foreign_firmware)
        make_unit a 3776367B3540 5 1-1 && write_otp "$new/otp.bin" "03 ff ff ff"
        k5_firmware "$new/flash.bin"
        ;;
    two_units)
        make_unit a 3776367B3036 5 1-1 && lumo7_older a
        make_unit b 206A35744E4B 7 1-2 && lumo7_older b
        order='b a'
        ;;
    download_fails)
        make_unit a 3776367B3641 5 1-1 && lumo7_older a
        : >"$new/fail_download"
        ;;
    lost_during_download)
        make_unit a 3776367B3742 5 1-1 && lumo7_older a
        : >"$new/lost_during_download"
        ;;
    no_access)
        make_unit a 3776367B3843 5 1-1 && lumo7_older a
        : >"$new/deny_access"
        ;;
    unit_busy)
        make_unit a 3776367B3944 5 1-1 && lumo7_older a
        : >"$new/busy"
        ;;
    *)
        rm -rf "$UNITS_DIR.new"
        return 1
        ;;
    esac
    rm -rf "$UNITS_DIR"
    mv "$UNITS_DIR.new" "$UNITS_DIR"
    printf '%s\n' "$order" >"$STATE_DIR/order"
    printf '%s\n' "$1" >"$STATE_DIR/config"
}

# Runs of the simulator may overlap (the tool polls from its worker while a configuration is
# set up from elsewhere): each run holds the state's lock for as long as it lives, so that no
# run sees, or rebuilds, the state half-way through another's change. The kernel drops the
# lock when the run ends, however it ends.
lock_state() {
    mkdir -p "$STATE_DIR" 2>/dev/null || usage_error "cannot create the state directory $STATE_DIR"
    exec 9>>"$STATE_DIR/lock" || usage_error "cannot open the lock file $STATE_DIR/lock"
    flock -w "$LOCK_WAIT_S" 9 ||
        die "$EX_IOERR" "the simulated units are busy: another run has held $STATE_DIR/lock for $LOCK_WAIT_S s"
}

ensure_state() {
    lock_state
    if [ ! -f "$STATE_DIR/config" ] || [ ! -d "$UNITS_DIR" ]; then
        build_configuration "$DEFAULT_CONFIG" || usage_error "cannot set up $DEFAULT_CONFIG in $STATE_DIR"
    fi
}

read_value() { # file -> REPLY (empty when missing)
    REPLY=''
    [ -f "$1" ] && read -r REPLY <"$1"
    return 0
}

# The units dfu-util would find with the match options given: UNITS, in listing order.
# A listing also counts down the absence of a unit lost during a download.
find_units() { # counting (1 for a listing)
    local id dir absent
    UNITS=()
    read_value "$STATE_DIR/order"
    for id in $REPLY; do
        dir=$UNITS_DIR/$id
        [ -d "$dir" ] || continue
        read_value "$dir/absent_scans"
        absent=${REPLY:-0}
        if ((absent > 0)); then
            if (($1)); then
                if ((absent > 1)); then
                    echo $((absent - 1)) >"$dir/absent_scans"
                else
                    # Back again: plugged in anew, so it gets a new address.
                    rm -f "$dir/absent_scans"
                    read_value "$dir/devnum" && echo $((REPLY + 1)) >"$dir/devnum"
                fi
            fi
            continue
        fi
        ((MATCH_VENDOR >= 0 && MATCH_VENDOR != 0x0483)) && continue
        ((MATCH_PRODUCT >= 0 && MATCH_PRODUCT != 0xdf11)) && continue
        if [ -n "$MATCH_SERIAL" ]; then
            read_value "$dir/serial"
            [ "$REPLY" = "$MATCH_SERIAL" ] || continue
        fi
        if [ -f "$dir/deny_access" ]; then
            warnx "Cannot open DFU device 0483:df11"
            continue
        fi
        UNITS+=("$dir")
    done
}

# Learns the desired firmware for a unit that should hold it (see the top of this file).
resolve_pending_flash() { # unit_dir file_beside
    local dir=$1 kind source beside_dir offset
    [ -f "$dir/flash.pending" ] || return 0
    read_value "$dir/flash.pending"
    kind=$REPLY
    beside_dir=${2%/*}
    [ "$beside_dir" = "$2" ] && beside_dir=.
    source=${ORVANTA_SIMULATOR_DESIRED_DFU:-}
    if [ -z "$source" ] || [ ! -f "$source" ]; then source=$beside_dir/firmware.dfu; fi
    if [ ! -f "$source" ] || ! (extract_flash_image "$source" "$dir/flash.learnt"); then
        printf '%s: cannot learn the desired firmware (no readable %s); the flash reads erased\n' \
            "$SELF" "$source" >&2
        rm -f "$dir/flash.learnt"
        return 0
    fi
    if [ "$kind" = desired_changed ]; then
        # A few bytes after the information block differ; the block itself is unchanged.
        for offset in 4096 131072 389120; do
            bytes_at "$dir/flash.learnt" "$offset" 1
            ((${#BYTES[@]} == 1)) || continue
            {
                copy_range "$dir/flash.learnt" 0 "$offset"
                hex_bytes "$(printf '%02x' $((BYTES[0] ^ 0xA5)))"
                size_of "$dir/flash.learnt"
                copy_range "$dir/flash.learnt" $((offset + 1)) $((REPLY - offset - 1))
            } >"$dir/flash.changed" && mv -f "$dir/flash.changed" "$dir/flash.learnt"
        done
    fi
    mv -f "$dir/flash.learnt" "$dir/flash.bin"
    rm -f "$dir/flash.pending"
}

# Programs len bytes of src (from pos) into the unit's flash at offset off, the pages from
# offset from to offset to having been erased first.
flash_program() { # unit_dir src pos len off from to
    local dir=$1 src=$2 pos=$3 len=$4 off=$5 from=$6 to=$7 old_size keep
    size_of "$dir/flash.bin"
    old_size=$REPLY
    keep=$((from < old_size ? from : old_size))
    {
        copy_range "$dir/flash.bin" 0 "$keep"
        erased $((from - keep))
        erased $((off - from))
        copy_range "$src" "$pos" "$len"
        if ((old_size > to)); then
            erased $((to - off - len))
            copy_range "$dir/flash.bin" "$to" $((old_size - to))
        fi
    } >"$dir/flash.new" && mv -f "$dir/flash.new" "$dir/flash.bin"
}

# ---------------------------------------------------------------------------------------------
# DfuSe files

# Reads a file's DFU suffix as dfu-util does. Sets DFU_TOTAL, DFU_SUFFIX_LENGTH (0 without a
# valid suffix), DFU_BCD, DFU_VENDOR, DFU_PRODUCT.
load_dfu_file() { # file
    local file=$1 reason='' stored
    if [ ! -f "$file" ] || [ ! -r "$file" ]; then
        if [ -e "$file" ]; then reason="Permission denied"; else reason="No such file or directory"; fi
        die "$EX_IOERR" "Could not open file $file for reading: $reason"
    fi
    size_of "$file"
    DFU_TOTAL=$REPLY DFU_SUFFIX_LENGTH=0 DFU_BCD=0 DFU_VENDOR=$((0xffff)) DFU_PRODUCT=$((0xffff))
    if ((DFU_TOTAL < 16)); then
        reason="File too short for DFU suffix"
    else
        bytes_at "$file" $((DFU_TOTAL - 16)) 16
        if ((BYTES[10] != 0x44 || BYTES[9] != 0x46 || BYTES[8] != 0x55)); then
            reason="Invalid DFU suffix signature"
        else
            stored=$((BYTES[12] | BYTES[13] << 8 | BYTES[14] << 16 | BYTES[15] << 24))
            if suffix_crc "$file" $((DFU_TOTAL - 4)) && ((CRC != stored)); then
                reason="DFU suffix CRC does not match"
            else
                DFU_BCD=$((BYTES[7] << 8 | BYTES[6]))
                DFU_SUFFIX_LENGTH=${BYTES[11]}
                ((DFU_SUFFIX_LENGTH < 16)) && die "$EX_IOERR" "Unsupported DFU suffix length $DFU_SUFFIX_LENGTH"
                ((DFU_SUFFIX_LENGTH > DFU_TOTAL)) && die "$EX_IOERR" "Invalid DFU suffix length $DFU_SUFFIX_LENGTH"
                DFU_VENDOR=$((BYTES[5] << 8 | BYTES[4]))
                DFU_PRODUCT=$((BYTES[3] << 8 | BYTES[2]))
            fi
        fi
    fi
    if [ -n "$reason" ]; then
        warnx "$reason"
        warnx "A valid DFU suffix will be required in a future dfu-util release!!!"
    fi
    return 0
}

# The suffix CRC of the first count bytes (CRC-32 without its final inversion) -> CRC. Fails
# when it cannot be computed here; the check is then skipped.
suffix_crc() { # file count
    command -v gzip >/dev/null 2>&1 || return 1
    local b
    # shellcheck disable=SC2207
    b=($(head -c "$2" "$1" | gzip -c | tail -c 8 | od -An -tu1 -N 4))
    ((${#b[@]} == 4)) || return 1
    CRC=$(((~(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24)) & 0xFFFFFFFF))
}

# Walks the targets and elements of a DfuSe file as dfu-util 0.9 does, with its messages and
# exit codes, and calls the handler for every element of the alternate setting in use:
#   handler file data_offset address size
walk_dfuse() { # file payload_size alt handler
    local file=$1 rem=$2 alt=$3 handler=$4 pos=0 targets image talt elements tsize element address size
    ((rem < 11 + 274 + 8)) && die "$EX_SOFTWARE" "File too small for a DfuSe file"
    hex_at "$file" 0 5
    [ "$REPLY" = 4466755365 ] || die "$EX_IOERR" "No valid DfuSe signature"
    bytes_at "$file" 5 6
    ((BYTES[0] == 1)) || die "$EX_IOERR" "DFU format revision ${BYTES[0]} not supported"
    targets=${BYTES[5]}
    pos=11 rem=$((rem - 11))
    say "file contains $targets DFU images"
    for ((image = 1; image <= targets; image++)); do
        say "parsing DFU image $image"
        ((rem < 274)) && die "$EX_IOERR" "Corrupt DfuSe file: Cannot read 274 bytes from $rem bytes"
        hex_at "$file" "$pos" 6
        [ "$REPLY" = 546172676574 ] || die "$EX_IOERR" "No valid target signature"
        bytes_at "$file" $((pos + 6)) 1
        talt=${BYTES[0]}
        le32_at "$file" $((pos + 270)) && elements=$REPLY
        le32_at "$file" $((pos + 266)) && tsize=$REPLY
        say "image for alternate setting $talt, ($elements elements, total size = $tsize)"
        if ((talt != alt)); then
            say "Warning: Image does not match current alternate setting."
            say "Please rerun with the correct -a option setting to download this image!"
        fi
        pos=$((pos + 274)) rem=$((rem - 274))
        for ((element = 1; element <= elements; element++)); do
            say_n "parsing element $element, "
            ((rem < 8)) && die "$EX_IOERR" "Corrupt DfuSe file: Cannot read 8 bytes from $rem bytes"
            le32_at "$file" "$pos" && address=$REPLY
            le32_at "$file" $((pos + 4)) && size=$REPLY
            ((QUIET)) || printf 'address = 0x%08x, size = %d\n' "$address" "$size"
            pos=$((pos + 8)) rem=$((rem - 8))
            ((size > rem)) && die "$EX_SOFTWARE" "File too small for element size"
            ((talt == alt)) && "$handler" "$file" "$pos" "$address" "$size"
            pos=$((pos + size)) rem=$((rem - size))
        done
    done
    ((rem != 0)) && warnx "$rem bytes leftover"
    say "done parsing DfuSe file"
    return 0
}

# For the simulator's own use: the data of the alternate setting 0 element at 0x08000000.
# Run in a subshell: a malformed file ends it with dfu-util's exit code.
extract_flash_image() { # dfu_file out
    QUIET=1
    EXTRACT_TO=$2
    rm -f "$EXTRACT_TO"
    load_dfu_file "$1"
    ((DFU_SUFFIX_LENGTH > 0 && DFU_BCD == 0x11a)) || exit "$EX_IOERR"
    walk_dfuse "$1" $((DFU_TOTAL - DFU_SUFFIX_LENGTH)) 0 extract_element
    [ -f "$EXTRACT_TO" ]
}

extract_element() { # file pos address size
    (($3 == FLASH_BASE)) && [ ! -f "$EXTRACT_TO" ] && copy_range "$1" "$2" "$4" >"$EXTRACT_TO"
    return 0
}

# ---------------------------------------------------------------------------------------------
# dfu-util's work with one unit

open_unit() { # -> UNIT (its directory); dies as dfu-util does without exactly one unit
    find_units 0
    ((${#UNITS[@]} == 0)) && die "$EX_IOERR" "No DFU capable USB device available"
    ((${#UNITS[@]} > 1)) && die "$EX_IOERR" "More than one DFU capable USB device found! Try \`--list' and specify the serial number or disconnect all but one device
"
    UNIT=${UNITS[0]}
    say "Opening DFU capable USB device..."
    say "ID 0483:df11"
    say "Run-time device DFU version 011a"
    say "Claiming USB DFU Interface..."
    [ -f "$UNIT/busy" ] && die "$EX_IOERR" "Cannot claim interface"
    say "Setting Alternate Setting #$ALT ..."
    say "Determining device status: state = dfuIDLE, status = 0"
    say "dfuIDLE, continuing"
    say "DFU mode device DFU version 011a"
    say "Device returned transfer size $XFER_SIZE"
}

interface_name() {
    alt_name "$ALT"
    REPLY=${REPLY#@}
    say "DfuSe interface name: \"${REPLY%%/*}\""
}

# "-s address[:modifier...]" with a number as the length.
parse_dfuse_options() {
    local option parts
    DFUSE_ADDRESS=-1 DFUSE_LENGTH=0
    [ -n "$DFUSE_OPTIONS" ] || return 0
    IFS=: read -ra parts <<<"$DFUSE_OPTIONS"
    if [ -n "${parts[0]:-}" ]; then
        number "${parts[0]}" || die "$EX_USAGE" "Invalid dfuse address: $DFUSE_OPTIONS"
        DFUSE_ADDRESS=$REPLY
    fi
    for option in "${parts[@]:1}"; do
        case $option in
        force | leave | mass-erase | unprotect | will-reset) ;;
        *)
            number "$option" || die "$EX_USAGE" "Invalid dfuse modifier: $option"
            DFUSE_LENGTH=$REPLY
            ;;
        esac
    done
}

number() { # text as C's strtoul with base 0 reads it -> REPLY
    case $1 in
    0[xX]?*) [[ ${1:2} =~ ^[0-9a-fA-F]+$ ]] && REPLY=$((16#${1:2})) ;;
    0*) [[ $1 =~ ^[0-7]+$ ]] && REPLY=$((8#$1)) ;;
    *) [[ $1 =~ ^[0-9]+$ ]] && REPLY=$((10#$1)) ;;
    esac
}

do_upload() {
    local target=$UPLOAD_FILE reason limit start end total=0 have mem='' base=0 chunk folder
    open_unit
    if ! (set -C && : >"$target") 2>/dev/null; then
        if [ -e "$target" ]; then
            reason="File exists"
        elif folder=${target%/*} && [ "$folder" != "$target" ] && [ ! -d "${folder:-/}" ]; then
            reason="No such file or directory"
        else
            reason="Permission denied"
        fi
        die "$EX_IOERR" "Cannot open file $target for writing: $reason"
    fi
    parse_dfuse_options
    memory_layout "$ALT"
    limit=$DFUSE_LENGTH
    if ((DFUSE_ADDRESS >= 0)); then
        interface_name
        find_segment "$DFUSE_ADDRESS" && ((SEG_TYPE[SEGMENT] & 1)) ||
            die "$EX_IOERR" "$(printf 'Page at 0x%08x is not readable' "$DFUSE_ADDRESS")"
        if ((limit == 0)); then
            limit=$((SEG_END[SEGMENT] - DFUSE_ADDRESS))
            say "Limiting upload to end of memory segment, $limit bytes"
        fi
        start=$DFUSE_ADDRESS
    else
        ((limit == 0)) && limit=16384 && say "Limiting default upload to $limit bytes"
        start=${SEG_START[0]}
    fi
    # The bootloader answers with fewer bytes at the end of its memory.
    end=${SEG_END[${#SEG_END[@]} - 1]}
    ((start + limit > end)) && limit=$((end > start ? end - start : 0))

    case $ALT in
    0) resolve_pending_flash "$UNIT" "$target" && mem=$UNIT/flash.bin base=$FLASH_BASE ;;
    1) mem=$UNIT/option_bytes.bin base=$((0x1FFFC000)) ;;
    2) mem=$UNIT/otp.bin base=$OTP_BASE ;;
    esac
    size_of "$mem"
    have=$((REPLY - (start - base)))
    ((have < 0)) && have=0
    ((have > limit)) && have=$limit
    {
        copy_range "$mem" $((start - base)) "$have"
        erased $((limit - have))
    } >"$target"

    STEP_MS=$((limit / UPLOAD_BYTES_PER_MS / 25))
    progress Upload 0 1
    while :; do
        chunk=$((limit - total < XFER_SIZE ? limit - total : XFER_SIZE))
        total=$((total + chunk))
        ((chunk < XFER_SIZE || total >= limit)) && break
        progress Upload "$total" "$limit"
    done
    progress Upload "$total" "$total"
    exit 0
}

# Writes one element into the unit as dfu-util 0.9 does: page by page, erasing each page as
# the writing reaches it. The unit's failure modes strike here.
download_element() { # file pos address size
    local file=$1 pos=$2 address=$3 size=$4 p chunk at first_page erased_to=-1 cut=-1
    find_segment $((address + size - 1)) && ((SEG_TYPE[SEGMENT] & 4)) ||
        die "$EX_IOERR" "$(printf 'Last page at 0x%08x is not writeable' $((address + size - 1)))"
    ((ALT == 0)) || die "$EX_IOERR" "$(printf 'Last page at 0x%08x is not writeable' $((address + size - 1)))"
    find_segment "$address" && page_start "$address" && first_page=$REPLY
    [ -f "$UNIT/lost_during_download" ] && cut=$((size * 2 / 5 / XFER_SIZE * XFER_SIZE))
    STEP_MS=$((size / DOWNLOAD_BYTES_PER_MS / 25))
    progress Download 0 1
    for ((p = 0; p < size; p += XFER_SIZE)); do
        at=$((address + p))
        chunk=$((size - p < XFER_SIZE ? size - p : XFER_SIZE))
        find_segment "$at" && ((SEG_TYPE[SEGMENT] & 4)) ||
            die "$EX_IOERR" "$(printf 'Page at 0x%08x is not writeable' "$at")"
        progress Download "$p" "$size"
        if [ -f "$UNIT/fail_download" ]; then
            # The first page erase is refused: nothing in the flash has changed.
            ((QUIET)) || printf 'state(10) = dfuERROR, status(4) = Memory erase function failed\n'
            die "$EX_IOERR" 'Wrong state after command "ERASE_PAGE" download'
        fi
        find_segment $((at + chunk - 1)) && erased_to=$((SEG_START[SEGMENT] + ((at + chunk - 1 - SEG_START[SEGMENT]) / SEG_PAGE[SEGMENT] + 1) * SEG_PAGE[SEGMENT]))
        if ((p == cut)); then
            # Unplugged while this chunk's page was erased: the chunks before it are written.
            flash_program "$UNIT" "$file" "$pos" "$p" $((address - FLASH_BASE)) \
                $((first_page - FLASH_BASE)) $((erased_to - FLASH_BASE))
            rm -f "$UNIT/lost_during_download"
            echo "$ABSENT_SCANS" >"$UNIT/absent_scans"
            die "$EX_IOERR" "dfuse_download: libusb_control_transfer returned -4"
        fi
    done
    progress Download "$size" "$size"
    flash_program "$UNIT" "$file" "$pos" "$size" $((address - FLASH_BASE)) \
        $((first_page - FLASH_BASE)) $((erased_to - FLASH_BASE))
}

do_download() {
    local file=$DOWNLOAD_FILE
    load_dfu_file "$file"
    if ((MATCH_VENDOR < 0 && DFU_VENDOR != 0xffff)); then
        MATCH_VENDOR=$DFU_VENDOR
        printf 'Match vendor ID from file: %04x\n' "$MATCH_VENDOR"
    fi
    if ((MATCH_PRODUCT < 0 && DFU_PRODUCT != 0xffff)); then
        MATCH_PRODUCT=$DFU_PRODUCT
        printf 'Match product ID from file: %04x\n' "$MATCH_PRODUCT"
    fi
    open_unit
    if (((DFU_VENDOR != 0xffff && DFU_VENDOR != 0x0483) || (DFU_PRODUCT != 0xffff && DFU_PRODUCT != 0xdf11))); then
        die "$EX_IOERR" "$(printf 'Error: File ID %04x:%04x does not match device (0483:df11 or 0483:df11)' \
            "$DFU_VENDOR" "$DFU_PRODUCT")"
    fi
    parse_dfuse_options
    memory_layout "$ALT"
    interface_name
    resolve_pending_flash "$UNIT" "$file"
    if ((DFUSE_ADDRESS >= 0)); then
        ((DFU_BCD == 0x11a)) && die "$EX_IOERR" "This is a DfuSe file, not meant for raw download"
        printf 'Downloading to address = 0x%08x, size = %d\n' "$DFUSE_ADDRESS" $((DFU_TOTAL - DFU_SUFFIX_LENGTH))
        download_element "$file" 0 "$DFUSE_ADDRESS" $((DFU_TOTAL - DFU_SUFFIX_LENGTH))
        say "File downloaded successfully"
    else
        if ((DFU_BCD != 0x11a)); then
            warnx "Only DfuSe file version 1.1a is supported"
            die "$EX_IOERR" "(for raw binary download, use the --dfuse-address option)"
        fi
        walk_dfuse "$file" $((DFU_TOTAL - DFU_SUFFIX_LENGTH)) "$ALT" download_element
    fi
    exit 0
}

do_list() {
    local dir alt serial devnum path
    find_units 1
    for dir in ${UNITS[@]+"${UNITS[@]}"}; do
        read_value "$dir/serial" && serial=$REPLY
        read_value "$dir/devnum" && devnum=$REPLY
        read_value "$dir/path" && path=$REPLY
        for alt in 3 2 1 0; do
            ((MATCH_ALT >= 0 && MATCH_ALT != alt)) && continue
            alt_name "$alt"
            printf 'Found DFU: [0483:df11] ver=2200, devnum=%s, cfg=1, intf=0, path="%s", alt=%s, name="%s", serial="%s"\n' \
                "$devnum" "$path" "$alt" "$REPLY" "$serial"
        done
    done
    exit 0
}

# ---------------------------------------------------------------------------------------------
# Command line

[ "${1:-}" = --dfu-util-command ] && [ $# -ge 2 ] ||
    usage_error "usage: $SELF --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]"
COMMAND=$2
shift 2
if [ "${1:-}" = --fast-progress ]; then
    FAST=1
    shift
fi

case $COMMAND in
setup_prepared_config)
    (($# > 0)) || usage_error "setup_prepared_config needs a configuration name, one of:" $CONFIGURATIONS
    CONFIG=${!#}
    lock_state
    build_configuration "$CONFIG" || usage_error "unknown configuration \"$CONFIG\"; known are:" $CONFIGURATIONS
    printf 'Simulated configuration: %s\n' "$CONFIG"
    exit 0
    ;;
version | list | upload_OTP | upload_FW | download_FW) ;;
*) usage_error "unknown command name \"$COMMAND\"" ;;
esac

MODE='' MATCH_VENDOR=-1 MATCH_PRODUCT=-1 MATCH_SERIAL='' MATCH_ALT=-1 ALT=0 DFUSE_OPTIONS=''
UPLOAD_FILE='' DOWNLOAD_FILE=''
while (($# > 0)); do
    option=$1
    value=''
    case $option in
    -[dpcianStUDsEZ] | --device | --path | --cfg | --intf | --alt | --serial | --transfer-size | \
        --upload | --download | --dfuse-address)
        (($# >= 2)) || usage_error "option $option needs an argument"
        value=$2
        shift
        ;;
    -[dpcianStUDsEZ]?*)
        value=${option:2}
        option=${option:0:2}
        ;;
    esac
    case $option in
    -V | --version) MODE=version ;;
    -l | --list) MODE=list ;;
    -v | --verbose | -R | --reset | -e | --detach) ;;
    -d | --device)
        # vendor[:product], hexadecimal, as strtoul reads it
        vendor_product=${value%%,*}
        [[ ${vendor_product%%:*} =~ ^[0-9a-fA-F]+ ]] && MATCH_VENDOR=$((16#${BASH_REMATCH[0]}))
        [[ $vendor_product == *:* && ${vendor_product#*:} =~ ^[0-9a-fA-F]+ ]] &&
            MATCH_PRODUCT=$((16#${BASH_REMATCH[0]}))
        ;;
    -S | --serial) MATCH_SERIAL=${value%%,*} ;;
    -a | --alt)
        if [[ $value =~ ^[0-9]+$ ]]; then
            MATCH_ALT=$((10#$value))
        else
            # An alternate setting chosen by name.
            MATCH_ALT=9
            for alt in 0 1 2 3; do alt_name "$alt" && [ "$REPLY" = "$value" ] && MATCH_ALT=$alt; done
        fi
        ;;
    -s | --dfuse-address) DFUSE_OPTIONS=$value ;;
    -U | --upload) MODE=upload UPLOAD_FILE=$value ;;
    -D | --download) MODE=download DOWNLOAD_FILE=$value ;;
    -p | --path | -c | --cfg | -i | --intf | -t | --transfer-size | -E | -Z) ;;
    *) usage_error "dfu-util 0.9 has no option $option" ;;
    esac
    shift
done
((MATCH_ALT >= 0)) && ALT=$MATCH_ALT

banner
[ "$MODE" = version ] && exit 0
[ -n "$MODE" ] || {
    printf 'You need to specify one of -D or -U\n' >&2
    exit "$EX_USAGE"
}
ensure_state
if ((MATCH_ALT > 3)); then
    [ "$MODE" = list ] && exit 0
    die "$EX_IOERR" "No DFU capable USB device available"
fi
case $MODE in
list) do_list ;;
upload) do_upload ;;
download) do_download ;;
esac
