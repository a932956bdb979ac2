#!/bin/sh
# Writes a firmware image for a virtual drive (vtape/README.md, "Firmware
# images"): the text header that names the family, the level and what the
# drive's firmware pages C0h and C1h report once it runs the image, then zero
# bytes up to SIZE.
#
#   scripts/make-firmware-image.sh [-c0 OFFSET:TEXT]... [-c1 OFFSET:TEXT]... FAMILY LEVEL SIZE FILE
#
# FAMILY is dds3, dds4 or ultrium (any other name makes an image that every
# virtual drive refuses). LEVEL is the 4-character INQUIRY revision the drive
# reports after the upgrade. tapediag sends whole 16384-byte blocks only, so
# SIZE should be a multiple of 16384. Without -c0/-c1 the page texts follow
# the family's virtual drive with the new level in place of the old one.
set -eu

usage() {
    echo "usage: $0 [-c0 OFFSET:TEXT]... [-c1 OFFSET:TEXT]... FAMILY LEVEL SIZE FILE" >&2
    exit 2
}

nl='
'
c0=""
c1=""
while [ $# -gt 0 ]; do
    case "$1" in
    -c0) [ $# -ge 2 ] || usage; c0="${c0}c0=$2$nl"; shift 2 ;;
    -c1) [ $# -ge 2 ] || usage; c1="${c1}c1=$2$nl"; shift 2 ;;
    -*) usage ;;
    *) break ;;
    esac
done
[ $# -eq 4 ] || usage
family=$1
level=$2
size=$3
file=$4

case "$level" in
????) ;;
*) echo "$0: LEVEL must be 4 characters: $level" >&2; exit 2 ;;
esac
case "$size" in
'' | *[!0-9]*) echo "$0: SIZE must be a number of bytes: $size" >&2; exit 2 ;;
esac

# The texts the family's virtual drive reports, as vtape/Models.cpp has them.
case "$family" in
dds3) defaults="c0=5:$level${nl}c0=17:0110${nl}c1=5:$level${nl}c1=17:0110$nl" ;;
dds4) defaults="c0=5:$level${nl}c0=19:A7F1${nl}c1=5:$level${nl}c1=19:A7F1$nl" ;;
ultrium) defaults="c0=30:$level-5RC4${nl}c1=30:BOOT 1.2$nl" ;;
*) defaults="" ;;
esac
if [ -z "$c0$c1" ]; then
    pages=$defaults
else
    pages="$c0$c1"
fi

header="VTAPE FIRMWARE 1${nl}family=$family${nl}level=$level${nl}size=$size$nl$pages"
length=$(($(printf '%s' "$header" | wc -c)))
if [ "$size" -le "$length" ]; then
    echo "$0: SIZE must be more than the $length bytes of the header" >&2
    exit 2
fi

printf '%s' "$header" >"$file"
head -c $((size - length)) /dev/zero >>"$file"
