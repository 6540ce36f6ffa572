#!/usr/bin/env bash
# run-consumer.sh BUILD_DIR PROJECT_DIR [TOOLCHAIN_FILE] [EMULATOR] [CXX_FLAGS] [LINKER_FLAGS] [HOST_TESKPACK]
set -euo pipefail
build=$1 project=$2 toolchain=${3:-} emulator=${4:-} cxxflags=${5:-} ldflags=${6:-} host_teskpack=${7:-}
work="$build/consumer"
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
args=(-G Ninja -S "$project" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" -DOlma_DIR="$work/prefix/lib/cmake/Olma" -DCMAKE_BUILD_TYPE=Release)
[ -n "$toolchain" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
[ -n "$cxxflags" ] && args+=(-DCMAKE_CXX_FLAGS="$cxxflags")
[ -n "$ldflags" ] && args+=(-DCMAKE_EXE_LINKER_FLAGS="$ldflags")
[ -n "$host_teskpack" ] && args+=(-DTESKPACK_EXECUTABLE="$host_teskpack")
cmake "${args[@]}" >/dev/null
cmake --build "$work/build"
exe="$work/build/olma-consumer"
[ -f "$exe.exe" ] && exe="$exe.exe"
if [ -n "$emulator" ]; then
    export WINEPREFIX="$build/wineprefix"
    out=$("$emulator" "$exe" | tr -d '\r')
else
    out=$("$exe")
fi
echo "$out"
[ "$out" = "olma consumer: ERR_FILE_NOT_FOUND=-102 utf16 units=5" ]

# The packer comes with the package; a Windows package also brings the stub, and the
# consumer packs an installer from it with teskstub_add_installer.
teskpack=${host_teskpack:-$work/prefix/bin/teskpack}
"$teskpack" --version | tr -d '\r' | grep -qx "teskpack 1.0.0r1"
if [ -f "$work/prefix/bin/TeskStub.exe" ]; then
    listing=$("$teskpack" --list "$work/build/consumer-installer.exe" | tr -d '\r')
    echo "$listing"
    grep -q "  0  amd64  consumer.msi  " <<<"$listing"
fi
