#!/usr/bin/env bash
# Usage: signing_test.sh SOURCE BUILD SCRATCH EXE GENERATOR TOOLCHAIN BUILD_TYPE OBJDUMP SIGNED_COPY
# Signs EXE, the executable of the build in BUILD, with a throwaway chain made here (a root CA and a leaf for code signing; real keys live on
# hardware tokens): once through a build configured from the environment in SCRATCH, once through the
# signing script alone. Both must give the same bytes, verify against the root and fail on anything else.
# Leaves the signed executable at SIGNED_COPY for the tests that run it under Wine.
set -euo pipefail
source_dir=$1 build_dir=$2 scratch=$3 exe=$4 generator=$5 toolchain=$6 build_type=$7 objdump=$8 signed_copy=$9
name=$(basename "$exe")
sign_script=$source_dir/cmake/sign-exe.cmake

rm -rf "$scratch"
mkdir -p "$scratch/keys" "$scratch/out"
keys=$scratch/keys
log=$scratch/log
fail() {
    echo "FAIL: $*" >&2
    [ -s "$log" ] && tail -n 20 "$log" >&2
    exit 1
}

# --- The throwaway chain -------------------------------------------------------------------------------
root() {  # NAME: a self-signed CA
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.pem" -days 30 \
        -subj "/CN=Orvet Test $1" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign" 2>>"$log" || fail "making the CA $1"
}
pfx() {  # NAME: NAME's key and certificate, with the root, as a PFX with the password in NAME.pass
    printf 'throwaway %s' "$1" >"$keys/$1.pass"
    openssl pkcs12 -export -inkey "$keys/$1.key" -in "$keys/$1.pem" -certfile "$keys/root.pem" \
        -passout "file:$keys/$1.pass" -out "$keys/$1.pfx" 2>>"$log" || fail "making the PFX of $1"
}
leaf() {  # NAME [EXTENDED-USAGE [KEY-USAGE]]: a leaf signed by the root, as a PFX (no extended usage if empty)
    openssl req -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.csr" -subj "/CN=Orvet Test $1" \
        2>>"$log" || fail "making the key and request of $1"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,%s\n' "${3:-digitalSignature}" >"$keys/$1.ext"
    [ -z "${2:-}" ] || printf 'extendedKeyUsage=%s\n' "$2" >>"$keys/$1.ext"
    openssl x509 -req -in "$keys/$1.csr" -CA "$keys/root.pem" -CAkey "$keys/root.key" -CAcreateserial \
        -days 30 -extfile "$keys/$1.ext" -out "$keys/$1.pem" 2>>"$log" || fail "issuing the certificate of $1"
    pfx "$1"
}
root root
root stranger
leaf signer codeSigning
leaf other-signer codeSigning
leaf server serverAuth
leaf no-extended-usage ""
leaf encipher-only codeSigning keyEncipherment
pfx root

# The signing time: the last commit's, as in a release build; outside a checkout a fixed one.
if signing_time=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null); then
    unset SOURCE_DATE_EPOCH
else
    signing_time=1767225600
    export SOURCE_DATE_EPOCH=$signing_time
fi

# Runs the signing script: sign_with OUT CA (PFX NAME | SIGNATURE FILE) [IN]
sign_with() {
    local out=$1 ca=$2 kind=$3 what=$4 in=${5:-$exe}
    if [ "$kind" = PFX ]; then
        cmake "-DIN=$in" "-DOUT=$out" "-DCAFILE=$keys/$ca.pem" "-DPFX=$keys/$what.pfx" \
            "-DPASSFILE=$keys/$what.pass" "-DSOURCE_DIR=$source_dir" -P "$sign_script" >>"$log" 2>&1
    else
        cmake "-DIN=$in" "-DOUT=$out" "-DCAFILE=$keys/$ca.pem" "-DSIGNATURE=$what" -P "$sign_script" \
            >>"$log" 2>&1
    fi
}

# --- Signing in the build, certificate given in the environment ----------------------------------------
# Only this test's chain: signing files from the caller's environment would be refused beside it.
unset ORVET_SIGN_PFX ORVET_SIGN_PASSFILE ORVET_SIGN_CAFILE ORVET_SIGN_SIGNATURE
build=$scratch/build
ORVET_SIGN_PFX=$keys/signer.pfx ORVET_SIGN_PASSFILE=$keys/signer.pass ORVET_SIGN_CAFILE=$keys/root.pem \
    cmake -S "$source_dir" -B "$build" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="$build_type" >>"$log" 2>&1 || fail "configure with a certificate"
cmake --build "$build" --target orvet_release >>"$log" 2>&1 || fail "build with a certificate"
built=$build/${exe#"$build_dir"/}
by_build=$(dirname "$built")/signed/$name
[ -f "$by_build" ] || fail "the build wrote no signed/$name"
cmp -s "$by_build" "$build/out/$name" || fail "the release folder does not ship signed/$name"
cmp -s "$built" "$build/out/unsigned/$name" || fail "the release folder does not hold the unsigned $name"
cmake "-DRELEASE_DIR=$build/out" -P "$source_dir/tests/release/check_spdx.cmake" >>"$log" 2>&1 ||
    fail "the signed release's SPDX document does not match its folder"
cmp -s "$built" "$exe" || fail "the scratch build's unsigned executable differs from $exe"

# --- Two signings give the same bytes ------------------------------------------------------------------
sign_with "$scratch/out/again.exe" root PFX signer || fail "signing with the script"
cmp "$by_build" "$scratch/out/again.exe" || fail "two signings of the same executable differ"
sha256sum "$by_build" "$scratch/out/again.exe"

report=$(osslsigncode verify -CAfile "$keys/root.pem" -in "$by_build" 2>&1) || fail "verify: $report"
expected_time=$(LC_ALL=C date -u -d "@$signing_time" '+%b %e %H:%M:%S %Y GMT')
for line in "Message digest algorithm  : SHA256" "Signing time: $expected_time" \
    "Text description: Orvet Manual Contents Update" "Subject: /CN=Orvet Test signer"; do
    grep -qF "$line" <<<"$report" || fail "the signature lacks \"$line\""
done

# --- Verification catches what it must ----------------------------------------------------------------
# A byte of the code flipped after signing: offset of .text in the file, plus a little.
text_offset=$((16#$("$objdump" -h "$by_build" | awk '$2 == ".text" { print $6 }') + 4096))
flip() {  # IN OUT: OUT is IN with the byte at text_offset inverted
    cp "$1" "$2"
    local byte
    byte=$(od -An -tu1 -j "$text_offset" -N1 "$1" | tr -d ' ')
    printf "\\$(printf '%03o' $((byte ^ 0xFF)))" | dd of="$2" bs=1 seek="$text_offset" conv=notrunc status=none
    ! cmp -s "$1" "$2" || fail "flipping a byte changed nothing"
}
flip "$by_build" "$scratch/out/flipped.exe"
flip "$exe" "$scratch/out/changed-unsigned.exe"
osslsigncode extract-signature -in "$by_build" -out "$scratch/out/detached.sig" >>"$log" 2>&1 ||
    fail "extract-signature"

if osslsigncode verify -CAfile "$keys/root.pem" -in "$scratch/out/flipped.exe" >>"$log" 2>&1; then
    fail "a flipped byte of code verified"
fi
if osslsigncode verify -CAfile "$keys/stranger.pem" -in "$by_build" >>"$log" 2>&1; then
    fail "the signature verified against a root that did not issue it"
fi
# A signature by the root itself, made past the script, as a token might make it.
osslsigncode sign -pkcs12 "$keys/root.pfx" -readpass "$keys/root.pass" -h sha256 -time "$signing_time" \
    -in "$exe" -out "$scratch/out/by-root.exe" >>"$log" 2>&1 || fail "signing with the root"
osslsigncode extract-signature -in "$scratch/out/by-root.exe" -out "$scratch/out/by-root.sig" >>"$log" 2>&1 ||
    fail "extract-signature"

# Each must fail with its reason and leave no signed file: CASE|CA|KIND|WHAT|IN|REASON
while IFS='|' read -r case ca kind what in reason; do
    out=$scratch/out/$case.exe
    before=$(wc -l <"$log")
    if sign_with "$out" "$ca" "$kind" "$what" "$in"; then fail "$case: signed and verified"; fi
    [ ! -e "$out" ] && [ ! -e "$out.partial" ] || fail "$case: a signed file was left"
    tail -n "+$((before + 1))" "$log" | grep -qF "$reason" || fail "$case: refused, but not for \"$reason\""
done <<EOF_CASES
root-not-given|stranger|PFX|signer|$exe|does not verify against
leaf-without-code-signing|root|PFX|server|$exe|has no code-signing extended key usage
leaf-without-extended-usage|root|PFX|no-extended-usage|$exe|has no code-signing extended key usage
key-usage-without-signature|root|PFX|encipher-only|$exe|key usage (subject=CN = Orvet Test encipher-only) lacks digital signature
ca-as-signer|root|PFX|root|$exe|(subject=CN = Orvet Test root) is a CA certificate
ca-as-signer-attached|root|SIGNATURE|$scratch/out/by-root.sig|$exe|is a CA certificate
signature-of-another-build|root|SIGNATURE|$scratch/out/detached.sig|$scratch/out/changed-unsigned.exe|failed
EOF_CASES

# A build whose signature does not verify fails and leaves no signed file, nor the earlier release folder.
cmake "$build" -DORVET_SIGN_CAFILE="$keys/stranger.pem" >>"$log" 2>&1 || fail "reconfigure"
if cmake --build "$build" --target orvet_release >>"$log" 2>&1; then fail "the build signed for a stranger CA"; fi
[ ! -e "$by_build" ] || fail "the failed build left signed/$name"
[ ! -e "$build/out" ] || fail "the failed build left the earlier release folder"

# --- The environment of a run names the certificate, whatever the build's cache holds -----------------
other=(ORVET_SIGN_PFX="$keys/other-signer.pfx" ORVET_SIGN_PASSFILE="$keys/other-signer.pass"
       ORVET_SIGN_CAFILE="$keys/root.pem")
before=$(wc -l <"$log")
if env "${other[@]}" cmake --build "$build" --target orvet_signed >>"$log" 2>&1; then
    fail "a build not configured with the environment's certificate signed"
fi
refusal=$(tail -n "+$((before + 1))" "$log")
for both in "\"$keys/other-signer.pfx\" in the environment, \"$keys/signer.pfx\" in the build" \
    "\"$keys/root.pem\" in the environment, \"$keys/stranger.pem\" in the build"; do
    grep -qF "$both" <<<"$refusal" || fail "the refusal does not name both: $both"
done
[ ! -e "$by_build" ] || fail "the refused build left signed/$name"
env "${other[@]}" cmake "$build" >>"$log" 2>&1 || fail "configure with the other certificate"
env "${other[@]}" cmake --build "$build" --target orvet_signed >>"$log" 2>&1 || fail "build with the other certificate"
report=$(osslsigncode verify -CAfile "$keys/root.pem" -in "$by_build" 2>&1) || fail "verify: $report"
grep -qF "Subject: /CN=Orvet Test other-signer" <<<"$report" || fail "not signed with the environment's certificate"

# --- A signature made elsewhere, attached: the same bytes as signing here ------------------------------
sign_with "$scratch/out/attached.exe" root SIGNATURE "$scratch/out/detached.sig" ||
    fail "attaching the detached signature"
cmp "$scratch/out/again.exe" "$scratch/out/attached.exe" || fail "the attached signature gives other bytes"

mkdir -p "$(dirname "$signed_copy")"
cp "$scratch/out/again.exe" "$signed_copy"
rm -rf "$scratch"
echo "signed $(basename "$exe"): $(stat -c %s "$signed_copy") bytes, identical in two signings and attached"
