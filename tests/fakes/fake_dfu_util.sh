#!/usr/bin/env bash
# A stand-in for dfu-util 0.9 with STM32F4 units in their ROM bootloader, for tests.
#
# Like the real tool it prints the version banner on standard output first for every command,
# lists one line per alternate setting (highest first), writes "dfu-util: ..." errors on
# standard error, exits 74 when it finds no unit or the transfer fails, and refuses (exit 74)
# to upload into a file that already exists. Options it understands: -V, -l, -a <alt>,
# -s <address>:<length>, -U <file>, -D <file>; -d and -S are accepted with their value and ignored.
#
# Its state is the directory named by FAKE_DFU_UTIL_STATE. Every file is optional.
#   runs           every run appends one line: its arguments separated by the unit
#                  separator (0x1F); written before anything else, also for failing runs
#                  (so arguments must hold neither a line feed nor 0x1F)
#   units          the attached units, one serial (no blanks) per line, in listing order (the unit
#                  attached last comes first); missing or empty: no unit attached
#   listing        printed after the banner instead of the lines generated from `units`
#                  (for listings the generator cannot produce); uploads still use `units`
#   otp.bin        the unit's 512-byte OTP area (alt 2, 0x1FFF7800)
#   flash.bin      the unit's flash from 0x08000000 (alt 0)
#   <serial>/otp.bin, <serial>/flash.bin
#                  images of the unit with that serial; they take precedence over the two
#                  above, so several units (or a unit swapped for another) can differ
#                  Bytes beyond the end of an image, or of a missing image, read as 0xFF
#                  (erased), as on the chip.
# Failure switches. A switch that exists and is empty always applies; one that holds a
# number N applies to the next N runs it concerns and then removes itself.
#   fail_list            -l prints the banner and exits 74 (a USB error)
#   fail_upload_OTP      an upload from alt 2 fails with exit 74
#   fail_upload_FW_info  an upload of exactly 0x08000000:2048 from alt 0 fails with exit 74
#   fail_upload_FW       every other upload from alt 0 (the read-back) fails with exit 74
#   upload_leaves_empty_file   a failing upload leaves an empty file behind, as the real
#                        tool can (default: a failing upload writes no file)
#   upload_writes_nothing      an upload exits 0 without writing its file
#   fail_download        -D fails with exit 74 after the banner; flash is unchanged
#   lose_unit_on_download      -D removes the unit from `units` and fails with exit 74
#                        (the unit was unplugged mid-download: libusb_control_transfer returned -4)
#   deny_access          the unit cannot be opened by this user: every run writes "Cannot open
#                        DFU device 0483:df11"; -l lists nothing and exits 0, -U and -D go on
#                        to find no unit (exit 74)
#   busy                 another program has claimed the unit: -U and -D cannot claim it (exit 74)
#   download_keeps_flash -D succeeds but leaves flash unchanged (only the run is recorded)
#   download_seconds     -D sleeps this many seconds before it finishes
# A successful -D stores the data of the DfuSe file's element at 0x08000000 as the unit's new
# flash image (the file named by <serial>/flash.bin if that exists, else flash.bin).

set -u
export LC_ALL=C

state=${FAKE_DFU_UTIL_STATE:-}
if [ -z "$state" ] || [ ! -d "$state" ]; then
    echo "fake dfu-util: FAKE_DFU_UTIL_STATE does not name a directory" >&2
    exit 70
fi

# --- record the run ------------------------------------------------------------------------
# One write per run, so that a reader never sees half a line.
record=''
sep=''
for arg in "$@"; do
    record+="$sep$arg"
    sep=$'\x1f'
done
printf '%s\n' "$record" >>"$state/runs"

# --- the banner: the 261 characters of dfu-util 0.9 -----------------------------------------
printf 'dfu-util 0.9\n\n'
printf 'Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n'
printf 'Copyright 2010-2016 Tormod Volden and Stefan Schmidt\n'
printf 'This program is Free Software and has ABSOLUTELY NO WARRANTY\n'
printf 'Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n\n'

die() { # code message
    echo "dfu-util: $2" >&2
    exit "$1"
}

# The unit's state before the transfer: no access, or claimed by another program.
refuse_transfer() {
    if switch_on deny_access; then
        echo "dfu-util: Cannot open DFU device 0483:df11" >&2
        die 74 "No DFU capable USB device available"
    fi
    if switch_on busy; then
        printf 'Opening DFU capable USB device...\nID 0483:df11\nRun-time device DFU version 011a\n'
        printf 'Claiming USB DFU Interface...\n'
        die 74 "Cannot claim interface"
    fi
    return 0
}

# True when the switch applies to this run; consumes one use of a counted switch.
switch_on() {
    local file="$state/$1" n
    [ -f "$file" ] || return 1
    n=$(tr -d ' \t\r\n' <"$file")
    [ -z "$n" ] && return 0
    case "$n" in *[!0-9]*) return 0 ;; esac
    if [ "$n" -le 1 ]; then
        rm -f "$file"
        [ "$n" -eq 1 ]
        return
    fi
    echo $((n - 1)) >"$file"
    return 0
}

# --- options -------------------------------------------------------------------------------
mode=''
alt=''
dfuse=''
file=''
while [ $# -gt 0 ]; do
    case "$1" in
        -V) mode=version ;;
        -l) mode=list ;;
        -d | -S) shift ;;
        -a) alt=${2:-}; shift ;;
        -s) dfuse=${2:-}; shift ;;
        -U) mode=upload; file=${2:-}; shift ;;
        -D) mode=download; file=${2:-}; shift ;;
        *) die 64 "invalid option -- '$1'" ;;
    esac
    shift
done

serials() {
    [ -f "$state/units" ] || return 0
    tr -d '\r' <"$state/units" | grep -v '^[[:space:]]*$' || true
}

# The image of the one attached unit: its own if it has one, else the shared one.
image_of() { # serial name
    if [ -f "$state/$1/$2" ]; then
        echo "$state/$1/$2"
    else
        echo "$state/$2"
    fi
}

# `count` bytes of `image` from `offset`, padded with erased bytes (0xFF).
read_image() { # image offset count
    local have=0
    if [ -f "$1" ]; then
        have=$(($(stat -c %s "$1") - $2))
        [ "$have" -lt 0 ] && have=0
        [ "$have" -gt "$3" ] && have=$3
        [ "$have" -gt 0 ] && tail -c +$(($2 + 1)) "$1" | head -c "$have"
    fi
    [ "$have" -lt "$3" ] && head -c $(($3 - have)) /dev/zero | tr '\0' '\377'
    return 0
}

u32_at() { # file offset
    od -An -tu4 --endian=little -j "$2" -N4 "$1" | tr -d ' '
}

# The data of the DfuSe element that starts at 0x08000000 into $2; false if there is none.
extract_flash_element() { # dfuse-file out
    local size targets t off elements e address length
    size=$(stat -c %s "$1")
    [ "$size" -ge 27 ] && [ "$(head -c 5 "$1")" = "DfuSe" ] || return 1
    targets=$(od -An -tu1 -j 10 -N1 "$1" | tr -d ' ')
    off=11
    for ((t = 0; t < targets; t++)); do
        [ $((off + 274)) -le "$size" ] || return 1
        elements=$(u32_at "$1" $((off + 270)))
        off=$((off + 274))
        for ((e = 0; e < elements; e++)); do
            [ $((off + 8)) -le "$size" ] || return 1
            address=$(u32_at "$1" "$off")
            length=$(u32_at "$1" $((off + 4)))
            [ $((off + 8 + length)) -le "$size" ] || return 1
            if [ "$address" -eq $((0x08000000)) ]; then
                tail -c +$((off + 9)) "$1" | head -c "$length" >"$2"
                return 0
            fi
            off=$((off + 8 + length))
        done
    done
    return 1
}

one_unit() {
    local list count
    list=$(serials)
    count=$(printf '%s' "$list" | grep -c . || true)
    [ "$count" -eq 0 ] && die 74 "No DFU capable USB device available"
    [ "$count" -gt 1 ] && die 74 "More than one DFU capable USB device found! Try \`--list' and specify the serial number or disconnect all but one device"
    printf '%s' "$list"
}

opening() { # alt interface-name
    printf 'Opening DFU capable USB device...\nID 0483:df11\nRun-time device DFU version 011a\n'
    printf 'Claiming USB DFU Interface...\nSetting Alternate Setting #%s ...\n' "$1"
    printf 'Determining device status: state = dfuIDLE, status = 0\ndfuIDLE, continuing\n'
    printf 'DFU mode device DFU version 011a\nDevice returned transfer size 2048\n'
    printf 'DfuSe interface name: "%s"\n' "$2"
}

case "$mode" in
    version)
        exit 0
        ;;
    list)
        switch_on fail_list && die 74 "error get_status"
        if switch_on deny_access; then
            echo "dfu-util: Cannot open DFU device 0483:df11" >&2
            exit 0
        fi
        if [ -f "$state/listing" ]; then
            cat "$state/listing"
            exit 0
        fi
        n=0
        for serial in $(serials); do
            n=$((n + 1))
            pre="Found DFU: [0483:df11] ver=2200, devnum=$((n + 4)), cfg=1, intf=0, path=\"1-$n\""
            echo "$pre, alt=3, name=\"@Device Feature/0xFFFF0000/01*004 e\", serial=\"$serial\""
            echo "$pre, alt=2, name=\"@OTP Memory /0x1FFF7800/01*512 e,01*016 e\", serial=\"$serial\""
            echo "$pre, alt=1, name=\"@Option Bytes  /0x1FFFC000/01*016 e\", serial=\"$serial\""
            echo "$pre, alt=0, name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\", serial=\"$serial\""
        done
        exit 0
        ;;
    upload)
        refuse_transfer
        serial=$(one_unit) || exit $?
        case "$alt" in
            2) image=$(image_of "$serial" otp.bin); base=$((0x1FFF7800)); limit=528
               name="@OTP Memory /0x1FFF7800/01*512 e,01*016 e"; switch=fail_upload_OTP ;;
            0) image=$(image_of "$serial" flash.bin); base=$((0x08000000)); limit=$((1024 * 1024))
               name="@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"; switch=fail_upload_FW
               [ "$dfuse" = "0x08000000:2048" ] && switch=fail_upload_FW_info ;;
            *) die 74 "Cannot set alternate interface" ;;
        esac
        address=${dfuse%%:*}
        length=${dfuse#*:}
        [ -n "$dfuse" ] && [ "$address" != "$dfuse" ] || { address=$base; length=$limit; }
        address=$((address))
        length=$((length))
        offset=$((address - base))
        opening "$alt" "$name"
        if [ -e "$file" ]; then
            echo "dfu-util: Cannot open file $file for writing: File exists" >&2
            exit 74
        fi
        if switch_on "$switch"; then
            [ -f "$state/upload_leaves_empty_file" ] && : >"$file"
            printf 'Upload\t[' 
            die 74 "Error during upload"
        fi
        if [ "$offset" -lt 0 ] || [ $((offset + length)) -gt "$limit" ]; then
            die 74 "Error during upload"
        fi
        if ! switch_on upload_writes_nothing; then
            read_image "$image" "$offset" "$length" >"$file" || die 74 "Error during upload"
        fi
        printf 'Upload\t[=========================] 100%% %12d bytes\nUpload done.\n' "$length"
        exit 0
        ;;
    download)
        [ -r "$file" ] || die 74 "Could not open file $file for reading: No such file or directory"
        # Without a product in -d, the tool takes it from the file's DFU suffix.
        fsize=$(stat -c %s "$file")
        if [ "$fsize" -ge 16 ]; then
            printf 'Match product ID from file: %04x\n' \
                "$(od -An -tu2 --endian=little -j $((fsize - 14)) -N2 "$file" | tr -d ' ')"
        fi
        refuse_transfer
        serial=$(one_unit) || exit $?
        [ "$alt" = 0 ] || die 74 "Cannot set alternate interface"
        opening 0 "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"
        if [ -f "$state/download_seconds" ]; then
            sleep "$(tr -d ' \r\n' <"$state/download_seconds")"
        fi
        if switch_on lose_unit_on_download; then
            grep -vxF "$serial" "$state/units" >"$state/units.new" || true
            mv "$state/units.new" "$state/units"
            printf 'Download\t['
            die 74 "dfuse_download: libusb_control_transfer returned -4"
        fi
        switch_on fail_download && { printf 'Download\t['; die 74 "Error during download"; }
        element=$(mktemp "$state/element.XXXXXX")
        if ! extract_flash_element "$file" "$element"; then
            rm -f "$element"
            die 74 "Corrupt DfuSe file"
        fi
        size=$(stat -c %s "$element")
        printf 'file contains 1 DFU images\nparsing DFU image 1\n'
        printf 'image for alternate setting 0, (1 elements, total size = %d)\n' $((size + 8))
        printf 'parsing element 1, address = 0x08000000, size = %d\n' "$size"
        printf 'Download\t[=========================] 100%% %12d bytes\nDownload done.\n' "$size"
        printf 'done parsing DfuSe file\n'
        if switch_on download_keeps_flash; then
            rm -f "$element"
        else
            mv "$element" "$(image_of "$serial" flash.bin)"
        fi
        exit 0
        ;;
    *)
        die 64 "You need to specify one of -D or -U"
        ;;
esac
