#!/usr/bin/env bash
# The 64-bit ARM build under qemu-aarch64: cross-compiles (build_arm64.sh),
# runs the library's test suite, the exactness proofs of the NEON kernels
# included, and converts every conformance case with the ARM converter in
# both directions, byte for byte against the expected files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build-arm64/bin"
conf="$root/tests/data/conformance"

qemu_bin=$(command -v qemu-aarch64-static || command -v qemu-aarch64)
qemu=("$qemu_bin" -L /usr/aarch64-linux-gnu)

"$root/scripts/build_arm64.sh" >/dev/null

# The converter's own tests start it as a child process, which qemu-user does
# not follow (without binfmt_misc the kernel cannot run the ARM program); the
# converter is run directly below instead.
(cd "$root/build-arm64/tests" &&
  "${qemu[@]}" "$bin/plix_tests" --gtest_brief=1 --gtest_filter='-ConverterRun.*:Plixconv*')

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0 decoded=0 encoded=0
while IFS=$'\t' read -r name kind mode q matrix _ _ _ _ plx bmp _ input; do
  case "$name" in '#'* | '') continue ;; esac
  "${qemu[@]}" "$bin/plixconv" d "$conf/$plx" "$tmp/out.bmp" >/dev/null
  if cmp -s "$tmp/out.bmp" "$conf/$bmp"; then decoded=$((decoded + 1)); else
    echo "arm64 decode differs: $name"; failed=1
  fi
  [ "$kind" = encode ] || continue
  modeOpt=-y; [ "$mode" = 1 ] && modeOpt=-r
  matrixOpt=(-k -j -c)
  "${qemu[@]}" "$bin/plixconv" e "-$q" "$modeOpt" "${matrixOpt[$matrix]}" "$conf/$input" "$tmp/out.plx" >/dev/null
  if cmp -s "$tmp/out.plx" "$conf/$plx"; then encoded=$((encoded + 1)); else
    echo "arm64 encode differs: $name"; failed=1
  fi
done <"$conf/cases.tsv"
echo "arm64 converter: $decoded files decoded and $encoded encoded exactly"
exit "$failed"
