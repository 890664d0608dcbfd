#!/usr/bin/env bash
# Installs what building and testing need from Debian's packages (as root, or
# with sudo). Packages already present are not touched.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev xvfb xauth x11-utils libxtst6 fonts-dejavu-core imagemagick
  python3 python3-pil
  clang libclang-rt-14-dev valgrind
)
# The loaders for other applications: gdk-pixbuf, the MIME database, gio,
# the desktop-entry checker, and Pillow with numpy, pytest and pip.
packages+=(
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info libglib2.0-bin desktop-file-utils
  python3-pil python3-numpy python3-pytest python3-setuptools python3-pip python3-venv
)
# The Python package's batch conversion on Dask clusters (dask-scheduler,
# dask-worker).
packages+=(python3-dask python3-distributed)
# Debian packages and their test: cpack's dependency scan, lintian, man page
# lint.
packages+=(dpkg-dev file lintian mandoc)
# The viewer's screenshots: a window manager, so that windows get real frames.
packages+=(openbox)
# The Qt 5 image plugin, and a Qt 5 viewer that opens PLIX through it in a
# screenshot (it needs a session bus).
packages+=(qtbase5-dev lximage-qt dbus-daemon)
# The plix tool: PNG and the command line.
packages+=(libspng-dev libcli11-dev zlib1g-dev libdeflate-dev)

# Windows cross builds (scripts/build_windows.sh), the installer (makensis)
# and their tests under Wine, 64- and 32-bit; the 32-bit Wine comes from the
# i386 architecture.
if [ "$(uname -m)" = x86_64 ]; then
  packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest wine wine64 wine32:i386 nsis)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" != 0 ]; then sudo dpkg --add-architecture i386; else dpkg --add-architecture i386; fi
  fi
fi

if [ "${PLIX_SETUP_BENCH:-0}" = 1 ]; then
  packages+=(libturbojpeg0-dev libjpeg-turbo-progs hyperfine time bc)
fi

# The 64-bit ARM cross build, the emulator its tests run under and the
# GoogleTest sources it builds for the target.
if [ "$(uname -m)" = x86_64 ]; then
  packages+=(g++-aarch64-linux-gnu qemu-user-static googletest)
fi

# The WebAssembly build and its tests (scripts/build_wasm.sh,
# scripts/test_wasm.sh): emscripten, Chromium for the page's test, Node and
# npm (kept when present: a Node from elsewhere brings its own npm).
packages+=(emscripten chromium)
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails an index for a minute or so: try again,
  # then go on with the indexes there are (the install says what is missing).
  for attempt in 1 2 3 4; do
    $sudo apt-get update -qq && break
    if [ "$attempt" = 4 ]; then echo "apt-get update failed; going on with the indexes there are" >&2; break; fi
    sleep $((attempt * 10))
  done
  if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # One package that cannot be had (say, an i386 library whose update the
    # mirror does not have yet) must not keep the others out: each alone,
    # and the steps that need a missing one say so when they run.
    failed=()
    for p in "${missing[@]}"; do
      $sudo apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || failed+=("$p")
    done
    if [ ${#failed[@]} -gt 0 ]; then
      echo "setup: could not install ${failed[*]}; going on without" >&2
    fi
  fi
fi

# The npm packages of the page's test, into the project (tests/web/).
"$(dirname "$0")/setup_npm.sh"
