#!/bin/sh
# fwimage keygen makes the secret key 0600 from its first byte and never
# replaces a key, a public key or writes through a link; sign takes only a
# whole key of keygen; fwimage release signs metadata that names the image;
# mistakes name the option as typed and the system's reason.
# Usage: fwimage-keys.sh FWIMAGE
set -eu
fw=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
(umask 000; "$fw" keygen -o "$dir/k" >/dev/null)
[ "$(stat -c %a "$dir/k")" = 600 ] || fail "secret key mode $(stat -c %a "$dir/k")"
before=$(cat "$dir/k")
{ "$fw" keygen -o "$dir/k" >/dev/null 2>&1 || [ "$(cat "$dir/k")" != "$before" ]; } && fail "a key was replaced"
echo mine >"$dir/p.pub"
{ "$fw" keygen -o "$dir/p" >/dev/null 2>&1 || [ -e "$dir/p" ] || [ "$(cat "$dir/p.pub")" != mine ]; } &&
  fail "keygen wrote beside an existing KEYFILE.pub"
ln -s "$dir/victim" "$dir/link"
{ "$fw" keygen -o "$dir/link" >/dev/null 2>&1 || [ -e "$dir/victim" ]; } && fail "keygen wrote through a link"
"$fw" sample --dsp-size 64 --arm-size 64 --version 3215 -o "$dir/3215.bin" >/dev/null
head -c 127 "$dir/k" >"$dir/short"
awk '{ c = substr($0, 128); print substr($0, 1, 127) (c == "0" ? "1" : "0") }' "$dir/k" >"$dir/half"
for bad in "short:not 128 hex digits" "half:its public half is not the key of its seed" \
  "missing:No such file or directory"; do
  "$fw" sign --key "$dir/${bad%%:*}" "$dir/3215.bin" 2>&1 | grep -q "${bad#*:}" || fail "sign took key ${bad%%:*}"
done
"$fw" release --key "$dir/k" --model KRV3200 --counter 7 "$dir/3215.bin" >/dev/null
[ "$(grep -cxE 'file 3215\.bin|counter 7' "$dir/KRV3200.release")" = 2 ] || fail "metadata: no image name or counter"
"$fw" verify --public-key "$dir/k.pub" --sig "$dir/KRV3200.release.sig" "$dir/KRV3200.release" >/dev/null ||
  fail "metadata signature"
"$fw" sample --dsp-size 8 --arm-size 8 --version 1 2>&1 | grep -q "sample needs -o" || fail "-o not as typed"
"$fw" show "$dir/3215.bin" --json | grep -q '^{"arm_length":64,"check":"ok",.*"version":3215,' || fail "show FILE --json"
[ "$("$fw" show -q "$dir/3215.bin")" = "check:       ok" ] || fail "show -q FILE"
"$fw" show "$dir/none.bin" 2>&1 | grep -q "none.bin: No such file or directory" || fail "show: no reason"
echo "1 passed, 0 failed"
