#!/usr/bin/env bash
# packer-tools.sh HOST_TESKPACK STUB PROBE WINE_RUN CERTIFICATE WORK_DIR
# The real stub packed by the build host's packer and read back by objdump and
# wrestool; the probe packed, signed with a throw-away key, verified, tampered with
# (verification fails), and its payload extracted under Wine from the signed file.
set -euo pipefail
teskpack=$1 stub=$2 probe=$3 wine_run=$4 certificate=$5 work=$6
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }

head -c 300000 /dev/urandom > product.msi
printf 'cabinet' > data.cab
"$teskpack" --stub "$stub" --output setup.exe --package amd64:product.msi --package all:data.cab=Data1.cab \
    --certificate "$certificate"

# objdump lists the container; wrestool gives back the exact bytes.
objdump=$(x86_64-w64-mingw32-objdump -p setup.exe)
for name in MANIFEST HDR_00 HDR_01 BIN_00 BIN_01 CERT_00; do
    grep -q "]: $name, Value" <<<"$objdump" || fail "objdump does not list $name"
done
wrestool -x --raw -t 10 -n BIN_00 setup.exe | cmp - product.msi || fail "BIN_00 differs"
wrestool -x --raw -t 10 -n BIN_01 setup.exe | cmp - data.cab || fail "BIN_01 differs"
wrestool -x --raw -t 10 -n CERT_00 setup.exe | cmp - "$certificate" || fail "CERT_00 differs"
# The stub's icon, group, version and manifest are kept byte for byte.
for type in 3 14 16 24; do
    cmp <(wrestool -x --raw -t $type "$stub") <(wrestool -x --raw -t $type setup.exe) || fail "type $type changed"
done
listing=$("$teskpack" --list setup.exe | tr -d '\r')
[ "$listing" = "Packages: 2
  0  amd64  product.msi  300000 bytes  BIN_00
  1  all  Data1.cab  7 bytes  BIN_01
Certificates: 1
  0  O=Brindlecap, CN=Brindlecap Test Publisher  889 bytes  CERT_00" ] || fail "listing: $listing"
# The packed stub still starts.
# (wine-run finds the build tree's prefix from the image's place.)
version=$("$wine_run" setup.exe --silent --version | tr -d '\r')
[ "$version" = "Version: 1.0.0r1" ] || fail "packed stub: $version"

# Signing: the payload is covered by the signature.
"$teskpack" --stub "$probe" --output probe-packed.exe --package amd64:product.msi
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -subj /CN=Throwaway -days 2 \
    -addext extendedKeyUsage=codeSigning 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -in probe-packed.exe -out probe-signed.exe >/dev/null
osslsigncode verify -CAfile cert.pem -in probe-signed.exe >verify.txt 2>&1 || fail "verify: $(cat verify.txt)"
grep -q "Signature verification: ok" verify.txt || fail "verify: $(cat verify.txt)"
python3 - probe-signed.exe product.msi tampered.exe <<'PY'
import sys
image = bytearray(open(sys.argv[1], 'rb').read())
payload = open(sys.argv[2], 'rb').read()
offset = image.find(payload[:64])
assert offset > 0
image[offset + 150000] ^= 1
open(sys.argv[3], 'wb').write(image)
PY
if osslsigncode verify -CAfile cert.pem -in tampered.exe >tampered.txt 2>&1; then
    fail "a tampered payload verifies"
fi
grep -q MISMATCH tampered.txt || fail "tampered: $(cat tampered.txt)"

# The signed probe reads its payload under Wine, byte for byte.
out=$("$wine_run" probe-signed.exe dump BIN_00 extracted.bin | tr -d '\r')
[ "$out" = "dump BIN_00: rc=0 size=300000" ] || fail "probe: $out"
cmp extracted.bin product.msi || fail "extracted payload differs"

# The signed installer itself extracts and verifies the exact bytes.
osslsigncode sign -certs cert.pem -key key.pem -in setup.exe -out setup-signed.exe >/dev/null
osslsigncode verify -CAfile cert.pem -in setup-signed.exe >verify-setup.txt 2>&1 || fail "verify setup"
out=$("$wine_run" setup-signed.exe --silent --extract --path signed-out | tr -d '\r')
[[ "$out" == "Files were extracted to: "*"\\signed-out" ]] || fail "signed setup: $out"
cmp signed-out/product.msi product.msi || fail "signed setup: product.msi differs"
cmp signed-out/Data1.cab data.cab || fail "signed setup: Data1.cab differs"
echo "packer-tools: all checks passed"
