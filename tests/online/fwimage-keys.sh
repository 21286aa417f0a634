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
"$fw" keygen -o "$dir/k" >/dev/null 2>&1 && fail "an existing key was replaced"
[ "$(cat "$dir/k")" = "$before" ] || fail "the existing key changed"
ln -s "$dir/victim" "$dir/link"
"$fw" keygen -o "$dir/link" >/dev/null 2>&1 && fail "keygen wrote through a link"
[ ! -e "$dir/victim" ] || fail "the link's target was made"
"$fw" sample --dsp-size 64 --arm-size 64 --version 3215 -o "$dir/3215.bin" >/dev/null
"$fw" release --key "$dir/k" --model KRV3200 --counter 7 "$dir/3215.bin" >/dev/null
grep -qx "file 3215.bin" "$dir/KRV3200.release" || fail "metadata does not name the image"
grep -qx "counter 7" "$dir/KRV3200.release" || fail "metadata lacks the counter"
"$fw" verify --public-key "$dir/k.pub" --sig "$dir/KRV3200.release.sig" "$dir/KRV3200.release" >/dev/null ||
  fail "metadata signature"
echo "1 passed, 0 failed"
