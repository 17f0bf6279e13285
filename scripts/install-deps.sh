#!/usr/bin/env bash
# Installs everything the builds and tests need, with apt-get, on Debian 12.
# Safe to run again: packages already present are skipped by apt-get.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Usage: install-deps.sh [build|all]
#   build: what building the POSIX program and its tests needs (the default)
#   all:   also the Windows cross-compilers, wine, NSIS, the fuzzing and
#          measuring tools and the desktop tools the whole test run uses,
#          and a 32-bit wine (see below)
packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev libinih-dev
  libssl-dev openssl acl
)
if [ "${1:-build}" = "all" ]; then
  packages+=(
    clang libclang-rt-14-dev clang-format valgrind time hyperfine
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 nsis wixl msitools osslsigncode python3 locales
    xvfb xdotool x11-utils zenity imagemagick tesseract-ocr
    shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl libglib2.0-bin
    dpkg-dev file lintian man-db groff-base rpm rpmlint python3-yaml
    firefox-esr chromium python3
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# A 32-bit wine for the 32-bit Windows programs. Debian's wine32:i386 of the
# installed wine64's version, when the system has it, is used as it is; on a
# kernel that runs 32-bit programs it is installed the ordinary way.
# Otherwise the same packages are fetched with an apt state of the folder's
# own and unpacked into LAUNCHER_WINE32_DIR (by default
# ~/.cache/talvin-wine32), where the 32-bit side runs under qemu's user-mode
# emulator and the 64-bit side is the system's wine64: no foreign
# architecture, no binfmt handler and no file under /etc is added, so the
# system's wine stays as it was. Kept while wine64 keeps its version.
[ "${1:-build}" = "all" ] || exit 0
version=$(dpkg-query -W -f='${Version}' wine64)
if [ "$(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null)" = "$version" ]; then exit 0; fi
wine32_dir=${LAUNCHER_WINE32_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/talvin-wine32}
mkdir -p "$(dirname "$wine32_dir")"

# Whether this kernel runs 32-bit x86 programs: a 96-byte static one that
# only exits with status 7.
runs_32_bit() {
    local probe status=0
    probe=$(mktemp "$(dirname "$wine32_dir")/talvin-i386-probe.XXXXXX")
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\273\7\0\0\0\315\200' >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    [ "$status" -eq 7 ]
}
if runs_32_bit; then
    echo "Installing Debian's wine32:i386 $version"
    if { dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386; } &&
        $SUDO apt-get update -qq &&
        $SUDO apt-get install -y -qq --no-install-recommends \
            "wine32:i386=$version" "libwine:i386=$version" </dev/null; then
        exit 0
    fi
    echo "wine32:i386 could not be installed: fetching the emulated one instead"
fi
# One fetch at a time; another run may have just made it.
exec 9>"$wine32_dir.lock"
flock 9
[ "$(cat "$wine32_dir/version" 2>/dev/null)" != "wine64 $version" ] || exit 0
echo "Fetching the 32-bit side of wine $version into $wine32_dir"
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
archive=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
    sed -n "s| $codename\$||p" | head -1)
apt=$wine32_dir.apt
new=$(mktemp -d "$wine32_dir.new.XXXXXX")
trap 'rm -rf "$new"' EXIT
# The system's sources and their backports (qemu 10 starts a 32-bit program
# in half a second, bookworm's 7.2 in over a minute), with an empty list of
# installed packages, so that every dependency is fetched.
rm -rf "$apt/sources"
mkdir -p "$apt/sources" "$apt/state/lists/partial" "$apt/cache/archives/partial"
for name in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ ! -f "$name" ] || cp "$name" "$apt/sources/$(basename "$name" | sed 's/^sources\.list$/system.list/')"
done
echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive $codename-backports main" \
    >"$apt/sources/backports.list"
: >"$apt/status"
cat >"$apt/apt.conf" <<CONF
Dir::State "$apt/state";
Dir::State::status "$apt/status";
Dir::Cache "$apt/cache";
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$apt/sources";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "$(id -un)";
CONF
export APT_CONFIG=$apt/apt.conf
rm -f "$apt"/cache/archives/*.deb
apt-get update -qq
apt-get install -qq -y --download-only --no-install-recommends \
    "wine32:i386=$version" "libwine:i386=$version" >/dev/null
(cd "$new" && apt-get download -qq "qemu-user/$codename-backports")
unset APT_CONFIG
for name in "$apt"/cache/archives/*_i386.deb; do dpkg-deb -x "$name" "$new/root"; done
dpkg-deb -x "$new"/qemu-user_*.deb "$new/qemu"
mkdir -p "$new/root/usr/bin" && mv "$new/qemu/usr/bin/qemu-i386" "$new/root/usr/bin/"
rm -rf "$new/qemu" "$new"/qemu-user_*.deb "$apt"/cache/archives/*.deb
# libwine's own post-install step, which unpacking skips: zlib as wine's
# builtin DLL (user32 needs it).
for name in i686:i386 x86_64:x86_64; do
    out=$new/root/usr/lib/i386-linux-gnu/wine/${name#*:}-windows
    [ -d "$out" ] || continue
    {
        head -c 64 "/usr/${name%:*}-w64-mingw32/lib/zlib1.dll"
        printf 'Wine builtin DLL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
        tail -c +97 "/usr/${name%:*}-w64-mingw32/lib/zlib1.dll"
    } >"$out/zlib1.dll"
done
# wine64 starts the 32-bit loader as "wine" beside its own program, and each
# finds its libraries and data relative to itself: a tree laid out as /usr
# of the system's 64-bit side and the fetched 32-bit side.
mkdir -p "$new/usr/lib/wine" "$new/usr/share" "$new/bin"
cp /usr/lib/wine/wine64 "$new/usr/lib/wine/wine64"
cp "$new/root/usr/lib/wine/wine" "$new/usr/lib/wine/wine-i386"
ln -s /usr/lib/wine/wineserver "$new/usr/lib/wine/wineserver"
ln -s /usr/lib/x86_64-linux-gnu "$new/usr/lib/x86_64-linux-gnu"
ln -s ../../root/usr/lib/i386-linux-gnu "$new/usr/lib/i386-linux-gnu"
ln -s /usr/share/wine "$new/usr/share/wine"
# The 32-bit loader under qemu: 32-bit children start through this script
# too (-0), and qemu's -L does not reach statx, so the libraries are named.
cat >"$new/usr/lib/wine/wine" <<'SCRIPT'
#!/bin/sh
here=$(dirname "$(readlink -f "$0")")
root=$here/../../../root
export WINELOADERNOEXEC=1
exec "$root/usr/bin/qemu-i386" -0 "$here/wine" -L "$root" \
    -E "LD_LIBRARY_PATH=$root/usr/lib/i386-linux-gnu:$root/lib/i386-linux-gnu" \
    "$here/wine-i386" "$@"
SCRIPT
# The commands the tests run (LAUNCHER_WINE names bin/: cmake/wine.cmake).
cat >"$new/bin/wine" <<'SCRIPT'
#!/bin/sh
here=$(dirname "$(readlink -f "$0")")
export WINEDLLPATH=$here/../root/usr/lib/i386-linux-gnu/wine
exec "$here/../usr/lib/wine/wine64" "$@"
SCRIPT
ln -s wine "$new/bin/wine-stable"
ln -s ../usr/lib/wine/wineserver "$new/bin/wineserver"
for name in wineboot winepath msiexec; do
    printf '#!/bin/sh\nexec "$(dirname "$0")/wine" %s.exe "$@"\n' "$name" >"$new/bin/$name"
done
chmod +x "$new/usr/lib/wine/wine" "$new/bin/"*
echo "wine64 $version" >"$new/version"
rm -rf "$wine32_dir"
mv "$new" "$wine32_dir"
