#!/usr/bin/env bash
# Runs PROGRAM with the clock stopped at SOURCE_DATE_EPOCH and its addresses fixed, for tools
# that stamp their output with the time and read it through system calls of their own (chmcmd:
# Free Pascal calls the kernel directly, so no preloaded library reaches it): strace answers time,
# gettimeofday and clock_gettime in its place. chmcmd also writes bytes that depend on where its
# heap lies (measured: 3 different files in 5 runs), so address randomisation is off for it.
# Without strace's injection the program runs on the real clock and this says so.
# Usage: SOURCE_DATE_EPOCH=SECONDS frozen-clock.sh PROGRAM [ARGUMENT...]
set -euo pipefail
epoch=${SOURCE_DATE_EPOCH:?SOURCE_DATE_EPOCH is not set}
little_endian() { python3 -c 'import struct, sys; print(struct.pack("<%dq" % (len(sys.argv) - 1), *map(int, sys.argv[1:])).hex())' "$@"; }
fixed=()
setarch -R true 2>/dev/null && fixed=(setarch -R)
if strace -o /dev/null -e trace=none true 2>/dev/null; then
  exec "${fixed[@]}" strace -o /dev/null -f -e trace=time,gettimeofday,clock_gettime \
    -e "inject=time:retval=$epoch:poke_exit=@arg1=$(little_endian "$epoch")" \
    -e "inject=gettimeofday:poke_exit=@arg1=$(little_endian "$epoch" 0)" \
    -e "inject=clock_gettime:poke_exit=@arg2=$(little_endian "$epoch" 0)" "$@"
fi
echo "frozen-clock.sh: strace cannot trace here, so $(basename "$1")'s output carries the real time" >&2
exec "${fixed[@]}" "$@"
