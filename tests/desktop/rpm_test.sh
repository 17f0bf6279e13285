#!/usr/bin/env bash
# The RPM package against the .deb of the same build: its name, rpmlint, its
# dependencies, and a scratch root where it installs the .deb's files with
# their bytes and modes (but for the differences docs/install.md lists), is
# upgraded in place and removed.
# Usage: rpm_test.sh BUILD_DIR RPMLINTRC
source "$(dirname "$0")/../lib.sh"
build=$1 rpmlintrc=$2
need_tools cpack rpm rpmbuild rpmlint dpkg-deb
{ cpack -G 'DEB;RPM' --config "$build/CPackConfig.cmake" -B "$scratch/package" &&
    cpack -G RPM -D CPACK_PACKAGE_VERSION=9.9.9 --config "$build/CPackConfig.cmake" -B "$scratch/bump"; } \
    >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail "cpack"; finish; }
deb=$(echo "$scratch"/package/*.deb) version=$(dpkg-deb -f "$deb" Version)
rpm=$scratch/package/talvin-launcher-$version-1.$(uname -m).rpm
[ -f "$rpm" ] || { fail "no $rpm: $(ls "$scratch/package")"; finish; }

rpmlint -r "$rpmlintrc" "$rpm" >"$scratch/rpmlint.log" 2>&1
grep ': [EW]: ' "$scratch/rpmlint.log" | grep -vE ': W: (position-independent-executable-suggested /usr/bin/talvin-launcher|manpage-not-compressed bz2|invalid-license MIT|no-manual-page-for-binary)( |$)' &&
    fail "rpmlint: $(cat "$scratch/rpmlint.log")"
grep -q ' 0 errors,' "$scratch/rpmlint.log" || fail "rpmlint: $(cat "$scratch/rpmlint.log")"
rpm -qpR "$rpm" | grep -q '^libcrypto\.so\.3()' || fail "no libcrypto among $(rpm -qpR "$rpm")"
check "recommends" "$(rpm -qp --recommends "$rpm")" zenity
check "configuration files" "$(rpm -qpc "$rpm" | grep -v '^(contains no files)')" \
    "$(dpkg-deb -I "$deb" conffiles 2>/dev/null)"
# The .deb's postrm is the %postun: it goes through the accounts (a getent
# of the test's own says so) when the package is erased (0), not when an
# upgrade replaced it (1).
dpkg-deb -e "$deb" "$scratch/control"
rpm -qp --qf '%{POSTUN}' "$rpm" >"$scratch/postun"
check "%postun" "$(cat "$scratch/postun")" "$(cat "$scratch/control/postrm" 2>/dev/null || echo '(none)')"
mkdir "$scratch/bin" && printf '#!/bin/sh\necho "$PHASE" >>"$0.log"\n' >"$scratch/bin/getent" && chmod +x "$scratch/bin/getent"
for phase in 1 0; do PHASE=$phase PATH=$scratch/bin:$PATH sh "$scratch/postun" $phase; done
check "%postun went through the accounts at" "$(cat "$scratch/bin/getent.log" 2>/dev/null)" 0

# The .deb's files where RPM-based systems keep them: the license, and no
# lintian overrides.
tree=$scratch/deb
dpkg -x "$deb" "$tree" && rm -r "$tree/usr/share/lintian" && mkdir -p "$tree/usr/share/licenses/talvin-launcher" &&
    mv "$tree/usr/share/doc/talvin-launcher/copyright" "$tree/usr/share/licenses/talvin-launcher/"
# same WHAT ROOT: ROOT's /usr holds the .deb's files, their bytes and modes.
same() {
    check "$1: files and modes" "$(cd "$2" && find usr -printf '%M %p\n' | sort)" \
        "$(cd "$tree" && find usr -printf '%M %p\n' | sort)"
    diff -r "$tree/usr" "$2/usr" || fail "$1: the bytes of the files differ"
}
root=$scratch/root
# rpm_in ROOT ARGS...: Debian's rpm, on a root of the test's own.
rpm_in() { rpm --root "$@" 2>"$scratch/rpm.err" || fail "rpm $*: $(cat "$scratch/rpm.err")"; }
rpm_in "$root" -i --nodeps "$rpm"
same install "$root"
# A product's installer wrote the system's settings, which the package does
# not hold: an upgrade keeps them, and so does the removal.
mkdir -p "$root/etc" && printf '[product]\ncommand=/opt/product/run\n' >"$root/etc/talvin.ini"
cp "$root/etc/talvin.ini" "$scratch/talvin.ini"
# The %postun acts on the system's accounts, not the scratch root's.
rpm_in "$root" -U --nodeps --nopostun "$scratch"/bump/*.rpm
check "upgraded" "$(rpm --root "$root" -q talvin-launcher 2>/dev/null)" "talvin-launcher-9.9.9-1.$(uname -m)"
same upgrade "$root"
rpm_in "$root" -e --nopostun talvin-launcher
check "left after removal" "$(cd "$root" && find usr etc -name '*talvin*')" etc/talvin.ini
cmp -s "$root/etc/talvin.ini" "$scratch/talvin.ini" || fail "talvin.ini changed"
finish
