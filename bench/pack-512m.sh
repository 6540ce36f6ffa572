#!/usr/bin/env bash
# Packing a 512 MiB package against copying the same file with cp: wall time and peak
# memory (maximum resident set size), the best of three runs each. The package is
# random bytes and sits in the page cache, so both sides read from memory and write
# to the page cache: the ratio shows what the packer adds to the copy it has to make.
# bench/pack-512m.sh [TESKPACK] [STUB]   (defaults: the native packer, the win64 stub)
set -euo pipefail
cd "$(dirname "$0")/.."
teskpack=$(realpath "${1:-build/native/bin/teskpack}")
stub=$(realpath "${2:-build/win64/bin/TeskStub.exe}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((512 * 1024 * 1024)) /dev/urandom >package.msi
cat package.msi >/dev/null

# Runs a command under /usr/bin/time; prints "seconds kilobytes".
measure() {
    /usr/bin/time -f "%e %M" -o time.txt "$@" >/dev/null
    cat time.txt
}
best() { sort -n | head -1; }

cp_runs=() pack_runs=()
for i in 1 2 3; do
    cp_runs+=("$(measure cp package.msi copy.msi)")
    rm -f copy.msi
    pack_runs+=("$(measure "$teskpack" --stub "$stub" --output setup.exe --package amd64:package.msi)")
    rm -f setup.exe
done
cp_time=$(printf '%s\n' "${cp_runs[@]}" | cut -d' ' -f1 | best)
pack_time=$(printf '%s\n' "${pack_runs[@]}" | cut -d' ' -f1 | best)
cp_rss=$(printf '%s\n' "${cp_runs[@]}" | cut -d' ' -f2 | sort -n | tail -1)
pack_rss=$(printf '%s\n' "${pack_runs[@]}" | cut -d' ' -f2 | sort -n | tail -1)
echo "cp 512 MiB:       ${cp_time} s, peak ${cp_rss} KiB"
echo "teskpack 512 MiB: ${pack_time} s, peak ${pack_rss} KiB"
awk -v p="$pack_time" -v c="$cp_time" 'BEGIN { if (c > 0) printf "time ratio teskpack/cp: %.2f\n", p / c }'
