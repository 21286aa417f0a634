# shellcheck shell=bash
# Shared by scripts/fuzz and scripts/fuzz-campaign: the targets, their
# options, the build, and one libFuzzer run with its figures.

fuzz_targets=(fuzz_image fuzz_ftp_reply fuzz_ftp_pasv fuzz_ftp_size fuzz_version_list
              fuzz_hid_descriptor fuzz_uevent fuzz_dispatcher)

# Options of each target beyond the common ones. The target that runs the
# window skips libFuzzer's leak check after every input: Qt's caches change
# the allocation count of nearly every input, and each check scans the
# whole heap. Leaks are still looked for when the process ends.
fuzz_options() {
  case "$1" in
    fuzz_dispatcher) echo "-max_len=256 -len_control=0 -rss_limit_mb=4096" ;;
    fuzz_version_list) echo "-detect_leaks=0 -max_len=1024" ;;
    fuzz_ftp_*) echo "-max_len=1200" ;;
    *) echo "" ;;
  esac
}

fuzz_build() {
  local dir=$1
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DUPDATER_FUZZ=ON -DUPDATER_BUILD_TESTS=OFF \
    -DUPDATER_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target "${fuzz_targets[@]}" >"$dir/fuzz-build.log" 2>&1 ||
    { cat "$dir/fuzz-build.log"; return 1; }
}

# fuzz_run DIR TARGET CORPUS ARTIFACTS LOG [libFuzzer options...]
# Runs one target (one job, one worker) on CORPUS, seeded from
# fuzz/corpus/TARGET; findings go to ARTIFACTS. Prints one line of figures.
# Returns non-zero when the run found something.
fuzz_run() {
  local dir=$1 target=$2 corpus=$3 artifacts=$4 log=$5
  shift 5
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  local here binary logdir status=0
  here=$PWD
  logdir=$(dirname "$log")
  binary=$(realpath "$dir/fuzz/$target")
  corpus=$(realpath "$corpus")
  artifacts=$(realpath "$artifacts")
  # libFuzzer's job writes fuzz-0.log into the working directory: keep it
  # beside the log.
  # shellcheck disable=SC2046
  (cd "$logdir" &&
    QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    LSAN_OPTIONS=suppressions=$here/fuzz/lsan.supp \
      "$binary" -jobs=1 -workers=1 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" $(fuzz_options "$target") "$@" \
        "$corpus" "$here/fuzz/corpus/$target") >"$log" 2>&1 || status=$?
  local execs cov ft corp findings
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  corp=$(find "$corpus" -type f | wc -l)
  findings=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  printf '%-20s execs %12s  cov %6s  ft %6s  corpus %6s  findings %s\n' \
    "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corp" "$findings"
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    grep -E 'ERROR|property broken|SUMMARY|Test unit written' "$log" | head -20 || true
    return 1
  fi
  return 0
}
