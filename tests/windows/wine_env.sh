# shellcheck shell=bash disable=SC2034
# Sourced by the Windows test scripts: the Wine loaders for 64- and 32-bit
# programs, and whether this machine can run the 32-bit ones at all (a kernel
# may be built or booted without 32-bit emulation, ia32_emulation=0; then
# no 32-bit program starts, Wine's included).
export WINEDEBUG=-all
# No browser or .NET runtime is needed: their installers would only ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || true)
[ -n "$wine64" ] || wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || { echo "no 64-bit Wine (wine64)" >&2; exit 1; }
wine32=wine
# Debian's wine runs 32-bit programs with /usr/lib/wine/wine (package
# wine32:i386), and still answers --version without it.
if [ -d /usr/lib/wine ] && [ ! -x /usr/lib/wine/wine ]; then
  wine32_works=0
  wine32_why="Wine's 32-bit loader is not installed (/usr/lib/wine/wine, package wine32:i386)"
elif wine --version >/dev/null 2>&1; then
  wine32_works=1
else
  wine32_works=0
  wine32_why="this machine cannot run 32-bit programs (wine's 32-bit loader does not start$(
    dmesg 2>/dev/null | grep -q '32-bit emulation disabled' && echo ': the kernel has 32-bit emulation off, ia32_emulation=0'))"
fi
# The loader for a build: win64 or win32.
wine_for() { if [ "$1" = win32 ]; then echo "$wine32"; else echo "$wine64"; fi; }
