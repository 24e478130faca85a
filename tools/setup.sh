#!/usr/bin/env bash
# Shared by tools/run.sh and tools/test.sh: installs what a fresh Debian 12 machine lacks,
# then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libxxhash-dev
    # The translations: lupdate and lrelease, and the toolkit's own texts in each language.
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    # Without a font the window has no text to lay out, measure or show.
    fonts-dejavu-core
    # The tests provoke real faults: chattr, setpriv, fiu-run, a case-blind exFAT disk through
    # FUSE, file systems of their own in Python; xvfb for a real display.
    e2fsprogs util-linux fiu-utils exfatprogs exfat-fuse fuse3 python3-fusepy xvfb xauth
    # FAT32 sticks through FUSE; a home folder's git working copy and virtual environment.
    fusefat dosfstools git python3-venv
    # The benchmark compares against these and counts system calls; its NAS (and the tests') is
    # an SFTP server on the loopback mounted through FUSE, its clone places (and the tests')
    # btrfs and XFS loop images.
    rsync strace sshfs socat openssh-sftp-server btrfs-progs xfsprogs
    # The desktop side: a private session bus for the notification tests, a private system bus
    # with a stand-in logind in Python for the sleep lock, the validators of the desktop entry
    # and the software-centre file, and the Debian package tools.
    dbus-daemon python3-dbus python3-gi desktop-file-utils appstream dpkg-dev file
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # Another set-up (a second work tree, the Windows side) may hold the package lock a while.
    $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
        --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)"
