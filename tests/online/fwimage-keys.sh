#!/bin/sh
# fwimage keygen makes the secret key 0600 from its first byte and never
# replaces a key or writes through a link; fwimage release signs metadata
# that names the image. Usage: fwimage-keys.sh FWIMAGE
set -eu
fw=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
(umask 000; "$fw" keygen -o "$dir/k" >/dev/null)
[ "$(stat -c %a "$dir/k")" = 600 ] || fail "secret key mode $(stat -c %a "$dir/k")"
before=$(cat "$dir/k")
{ "$fw" keygen -o "$dir/k" >/dev/null 2>&1 || [ "$(cat "$dir/k")" != "$before" ]; } && fail "a key was replaced"
ln -s "$dir/victim" "$dir/link"
{ "$fw" keygen -o "$dir/link" >/dev/null 2>&1 || [ -e "$dir/victim" ]; } && fail "keygen wrote through a link"
"$fw" sample --dsp-size 64 --arm-size 64 --version 3215 -o "$dir/3215.bin" >/dev/null
"$fw" release --key "$dir/k" --model KRV3200 --counter 7 "$dir/3215.bin" >/dev/null
[ "$(grep -cxE 'file 3215\.bin|counter 7' "$dir/KRV3200.release")" = 2 ] || fail "metadata: no image name or counter"
"$fw" verify --public-key "$dir/k.pub" --sig "$dir/KRV3200.release.sig" "$dir/KRV3200.release" >/dev/null ||
  fail "metadata signature"
echo "1 passed, 0 failed"
