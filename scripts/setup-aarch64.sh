#!/usr/bin/env bash
# Installs what the aarch64 preset needs: Debian's cross compiler, the arm64
# packages of the dependencies beside the build machine's own (multiarch), and
# qemu-user with its binfmt entry, so the cross-built tests run here as if native.
# Idempotent and quiet when everything is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  g++-aarch64-linux-gnu qemu-user-static file
  libc6:arm64 libstdc++6:arm64
  libpocofoundation80:arm64 libpoconet80:arm64 zlib1g-dev:arm64 libpcre3-dev:arm64
  libgtest-dev:arm64 libgmock-dev:arm64 libbenchmark-dev:arm64
)

dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
source "$here/scripts/debian-packages.sh"
install_missing "${packages[@]}"

# POCO's arm64 development package would replace the build machine's own (it is
# not multiarch), so it is unpacked into the build tree instead. The runtime
# files beside them are links to those of the arm64 packages installed above.
deps="$here/build/aarch64-deps"
if [ ! -f "$deps/usr/lib/aarch64-linux-gnu/cmake/Poco/PocoConfig.cmake" ]; then
  echo "setup: unpacking libpoco-dev:arm64 into build/aarch64-deps"
  download=$(mktemp -d)
  chown _apt "$download" 2>/dev/null || true # apt downloads as its own user where it can
  (cd "$download" && apt-get download -qq libpoco-dev:arm64)
  rm -rf "$deps" && mkdir -p "$deps"
  dpkg -x "$download"/libpoco-dev_*_arm64.deb "$deps"
  rm -rf "$download"
  ln -sf /usr/lib/aarch64-linux-gnu/libPoco*.so.* "$deps/usr/lib/aarch64-linux-gnu/"
fi

# The kernel's binfmt entry for aarch64 programs. Without systemd nothing
# registers it at boot, so it is done here (needs root, as the packages do).
binfmt=/proc/sys/fs/binfmt_misc
[ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -f "$binfmt/qemu-aarch64" ]; then
  grep '^:qemu-aarch64:' /usr/lib/binfmt.d/qemu-aarch64.conf > "$binfmt/register"
fi
