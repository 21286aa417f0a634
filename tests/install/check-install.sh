#!/usr/bin/env bash
# The complete install (cmake --install into a staging directory), then the
# command-line manners of every installed program as one table.
#   check-install.sh BUILD_DIR SOURCE_DIR PREFIX UDEV_RULES_DIR APP_ID
set -uo pipefail
build=$1 src=$2 prefix=$3 udev=$4 app=$5
stage=$(mktemp -d) home=$(mktemp -d)
server_pid=
trap '[ -n "$server_pid" ] && kill $server_pid 2>/dev/null; rm -rf "$stage" "$home"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

DESTDIR=$stage cmake --install "$build" >/dev/null || fail "cmake --install"
root=$stage$prefix
bin=$root/bin

# ---- what lands where
files=("$bin/"{firmware-updater,firmware-updater-cli,firmware-updater-sim,fwimage} "$stage$udev/70-firmware-updater.rules"
  "$root/share/applications/$app.desktop" "$root/share/metainfo/$app.metainfo.xml"
  "$root/share/icons/hicolor/scalable/apps/$app.svg" "$root/share/doc/firmware-updater/copyright"
  "$root/share/bash-completion/completions/"{firmware-updater-cli,fwimage}
  "$root/share/firmware-updater/Help/"{Base,Wheel,Updater}_{En,Ch}.jpg)
for size in 16 22 24 32 48 64 128 256; do files+=("$root/share/icons/hicolor/${size}x$size/apps/$app.png"); done
for f in "${files[@]}"; do [ -s "$f" ] || fail "not installed: ${f#"$stage"}"; done
desktop-file-validate "$root/share/applications/$app.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --explain "$root/share/metainfo/$app.metainfo.xml" >"$home/as.log" 2>&1 ||
  { cat "$home/as.log"; fail "appstreamcli validate"; }
for p in firmware-updater firmware-updater-cli firmware-updater-sim fwimage; do
  page=$(zcat "$root/share/man/man1/$p.1.gz") || fail "not installed: $p.1.gz"
  grep -q verbose <<<"$page" || fail "$p.1 lacks --verbose"
  [ "$(grep -cE '^\.SH ("EXIT STATUS"|FILES|EXAMPLES)$' <<<"$page")" = 3 ] || fail "$p.1: $(grep '^\.SH' <<<"$page")"
done
# Each page lists its program's own statuses: nothing reads a real device back.
zcat "$root/share/man/man1/firmware-updater-cli.1.gz" | grep -q 'does not hold exactly' &&
  fail "firmware-updater-cli.1 lists a status the cli cannot end with"

# ---- the window (on this Xvfb, whatever platform the caller names) has its desktop entry's class and an icon
if command -v xvfb-run >/dev/null && command -v xprop >/dev/null; then
  wmclass=$(grep '^StartupWMClass=' "$root/share/applications/$app.desktop" | cut -d= -f2)
  # shellcheck disable=SC2016
  props=$(HOME="$home" QT_QPA_PLATFORM=xcb timeout 90 xvfb-run -a sh -c '"$1" >/dev/null 2>&1 & pid=$!
    for _ in $(seq 600); do xprop -name QVNBOOTLOADER WM_CLASS _NET_WM_ICON 2>/dev/null | grep -q "^_NET" && break
      kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    xprop -name QVNBOOTLOADER WM_CLASS _NET_WM_ICON 2>/dev/null | grep -v "^\s"; kill $pid' _ "$bin/firmware-updater")
  grep -q "^WM_CLASS(STRING) = \"[^\"]*\", \"$wmclass\"$" <<<"$props" || fail "window class, not '$wmclass': $props"
  grep -q '^_NET_WM_ICON(CARDINAL)' <<<"$props" || fail "window without an icon: $props"
else
  fail "no xvfb-run or xprop: the window's class and icon were not checked"
fi

# ---- manners: program | arguments | status | stdout (grep -E) | stderr (grep -E; "" = empty)
# Programs run offscreen; "headless:PROGRAM" runs it with no platform at all.
"$bin/fwimage" -q sample --dsp-size 64 --arm-size 128 --version 5001 -o "$home/s.fw" || fail "fwimage sample"
port=0
if /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
  "$src/scripts/ftp-server" --port 0 --fwimage "$bin/fwimage" >"$home/server.out" 2>/dev/null &
  server_pid=$!
  for _ in $(seq 100); do port=$(awk '/^port /{print $2}' "$home/server.out") && [ -n "$port" ] && break; sleep 0.1; done
fi
S="127.0.0.1:$port"

# ---- completion: program | words | what bash offers for the last word
completes() { # completes PROGRAM WORD...
  local prog=$1 fn=_${1//-/_} && shift
  bash -c 'source "$1"; shift; fn=$1; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); $fn 2>/dev/null
    echo "${COMPREPLY[*]}"' _ "$root/share/bash-completion/completions/$prog" "$fn" "$prog" "$@"
}
for row in "firmware-updater-cli|--im|--image" "firmware-updater-cli|--sha|--sha256" \
  "firmware-updater-cli|--fetch |curl ftpclient" "firmware-updater-cli|--image $home/s.|$home/s.fw" \
  "firmware-updater-cli|--timeout |" "fwimage|sa|sample" "fwimage|sample --see|--seed" \
  "fwimage|sign --key $home/s.|$home/s.fw" "fwimage|verify --public-key k $home/s.|$home/s.fw"; do
  IFS='|' read -r prog words want <<<"$row"
  read -ra argv <<<"$words"
  [[ "$words" == *" " ]] && argv+=("")
  got=$(completes "$prog" "${argv[@]}")
  [ "$got" = "$want" ] || fail "completion of $prog $words: '$got', not '$want'"
done
rows=(
  "firmware-updater|--version|0|^firmware-updater [0-9.]+$|"
  "firmware-updater|--help|0|^Usage: .*--check-update.*--virtual-device|"
  "firmware-updater|--bogus|64|^$|firmware-updater: Unknown option 'bogus'"
  "firmware-updater|--server nonsense:21x|64|^$|--server needs HOST\\[:PORT\\]"
  "headless:firmware-updater|$home/s.fw|69|^$|^firmware-updater: no display to show the window on"
  "firmware-updater-cli|--version|0|^firmware-updater-cli [0-9.]+$|"
  "firmware-updater-cli|-q -v --image x|64|^$|exclude each other"
  "firmware-updater-sim|--version|0|^firmware-updater-sim [0-9.]+$|"
  "firmware-updater-sim|--help|0|^Usage: .*--device-version|"
  "firmware-updater-sim|--image $home/s.fw|0|^start .* progress 100% .*OK +/dev/hidraw0: status 0, |holds exactly the images of"
  "firmware-updater-sim|-q --image $home/s.fw|0|^OK +/dev/hidraw0: status 0, [^()]+ \\([0-9.]+ s\\)$|"
  "firmware-updater-sim|--image $home/s.fw --device-version 5002|25|^start .* status 25, |image is older than"
  "firmware-updater-sim|--image $home/none.fw|23|^$|^firmware-updater-sim: image .*none.fw: No such file"
  "fwimage|--version|0|^fwimage [0-9.]+$|"
  "fwimage|--help|0|^Usage: fwimage|"
  "fwimage||64|^$|^fwimage: no command given"
  "fwimage|show $home/s.fw|0|check: +ok|"
  "fwimage|sample --dsp-size 401 --arm-size 8 --version 1 -o $home/b.fw|64|^$|^fwimage: --dsp-size 401 is not a whole"
  "fwimage|show $home/b.fw|1|^$|cannot read"
)
if [ "$port" != 0 ]; then
  rows+=(
    "firmware-updater-sim|--server $S|41|status 41, |no signing key to verify it with"
    "firmware-updater-sim|--allow-unsigned --server $S|0|OK +/dev/hidraw0: status 0, |images of .*/\\.cache/firmware-updater/file/KRV3200/3215\\.bin"
    "firmware-updater-sim|-v --allow-unsigned --server $S|0|OK +/dev/hidraw0: status 0, |PASS qzx"
  )
else
  fail "no update server (python3-pyftpdlib): the online rows did not run"
fi
for row in "${rows[@]}"; do
  IFS='|' read -r prog args status out err <<<"$row"
  qpa=offscreen && [[ $prog == headless:* ]] && qpa= prog=${prog#headless:}
  # A root shell's environment: no XDG_RUNTIME_DIR, no display.
  # shellcheck disable=SC2086
  env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_CACHE_HOME= QT_QPA_PLATFORM=$qpa \
    timeout 120 "$bin/$prog" $args >"$home/out" 2>"$home/err"; got=$?
  flat_out=$(tr '\n' ' ' <"$home/out" | sed 's/ $//')
  [ "$got" = "$status" ] || { fail "$prog $args: status $got, not $status"; cat "$home/err"; continue; }
  grep -Eq -- "$out" <<<"$flat_out" || fail "$prog $args: stdout: $flat_out"
  if [ -z "$err" ]; then [ ! -s "$home/err" ]; else grep -Eq -- "$err" "$home/err"; fi ||
    fail "$prog $args: stderr: $(head -c 400 "$home/err")"
done
[ "$failed" -eq 0 ] && echo "install and ${#rows[@]} manner rows: all good"
exit $((failed > 0))
