#!/usr/bin/env bash
# The installed bin/satcli wrapper: satcli runs directly, or through qemu-i386
# where the kernel refuses i386 programs (TORVANE_X86_RUNNER=qemu acts as if it
# did); without qemu-i386 it prints one line naming both remedies and exits 3.
# Usage: wrapper_test.sh BUILD_DIR STUB_LIBRARY [QEMU_I386]
set -euo pipefail
build=$1 stub=$2 qemu=${3:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/satcli-wrapper.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cmake --install "$build" --component cli --prefix "$dir/prefix" >/dev/null
mkdir "$dir/shop" "$dir/bin"
ln -s "$stub" "$dir/shop/libtorvane_sat_x86.so"
cd "$dir/shop"
fail() {
    echo "FAIL: $*"
    cat out.txt
    exit 1
}
# satcli's usage text (status 1) through the wrapper.
usage() {
    local status=0
    "$dir/prefix/bin/satcli" >out.txt 2>&1 || status=$?
    [ "$status" -eq 1 ] && grep -q "funcoes:" out.txt || fail "no usage text, status $status ($*)"
}
usage "as this kernel runs it"
if [ -n "$qemu" ]; then
    # A qemu-i386 that notes it was used.
    printf '#!/bin/sh\ntouch %s/used\nexec %s "$@"\n' "$dir" "$qemu" >"$dir/bin/qemu-i386"
    chmod +x "$dir/bin/qemu-i386"
    PATH=$dir/bin:$PATH TORVANE_X86_RUNNER=qemu usage "through qemu-i386"
    [ -e "$dir/used" ] || fail "satcli did not run through qemu-i386"
    rm "$dir/bin/qemu-i386"
fi
# Without qemu-i386: a PATH holding only what the wrapper itself uses.
for tool in dirname readlink; do ln -s "$(command -v $tool)" "$dir/bin/$tool"; done
status=0
PATH=$dir/bin TORVANE_X86_RUNNER=qemu "$dir/prefix/bin/satcli" ConsultarSAT >out.txt 2>&1 || status=$?
[ "$status" -eq 3 ] || fail "status $status without qemu-i386, not 3"
[ "$(wc -l <out.txt)" -eq 1 ] && grep -q "ia32_emulation=on" out.txt && grep -q "qemu-user" out.txt ||
    fail "the message without qemu-i386 does not name both remedies in one line"
echo "ok: as this kernel runs it${qemu:+, through qemu-i386}, and the message without qemu-i386"
