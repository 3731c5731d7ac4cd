# Sourced by scripts/test and scripts/windows.
#
# run_suite DIR [ctest arguments...]: runs the suite of the build folder DIR
# through ctest; fails on a failed test, and on a skip whose kind (the word in
# brackets its reason starts with: "[pty] no pseudo-terminal can be had here")
# TESSAVIN_ALLOW_SKIP does not list. Every skip is printed with its reason.
run_suite() {
  local dir=$1
  shift
  (cd "$dir" && ctest --output-on-failure -j2 "$@")
  local skips refused=0 line kind
  skips=$(grep -a '^SKIP   : ' "$dir/Testing/Temporary/LastTest.log" || true)
  [ -z "$skips" ] && return 0
  while IFS= read -r line; do
    kind=$(sed -nE 's/^SKIP   : .*\) \[([a-z-]+)\] .*/\1/p' <<<"$line")
    if [ -n "$kind" ] && [[ ",${TESSAVIN_ALLOW_SKIP:-}," == *",$kind,"* ]]; then
      echo "Skipped (allowed: $kind): ${line#SKIP   : }"
    else
      echo "Skipped (not allowed): ${line#SKIP   : }" >&2
      refused=1
    fi
  done <<<"$skips"
  if [ $refused -ne 0 ]; then
    echo "Tests were skipped; fix the cause, or allow their kind with TESSAVIN_ALLOW_SKIP" >&2
    return 1
  fi
}
