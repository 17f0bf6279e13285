#!/usr/bin/env bash
# Usage: config_faults.sh TALVIN_CONFIG (with CONFIG_WINE_PREFIX: the
# Windows program under wine, up to the filesystems of POSIX)
# talvin-config's writes under faults (docs/testing.md); each must leave the
# old file or the new one, whole.
# As root, in a mount namespace of its own: its tmpfs goes with it, even
# when it is killed before it can unmount.
if [ "$(id -u)" = 0 ] && [ -z "${CONFIG_WINE_PREFIX:-}${FAULTS_UNSHARED:-}" ] &&
    unshare --mount --propagation private true 2>/dev/null; then
    FAULTS_UNSHARED=1 exec unshare --mount --propagation private "$0" "$@"
fi
source "$(dirname "$0")/../lib.sh"
config=$1 f=$scratch/talvin.ini at=$scratch/talvin.ini
cfg() { "$config" "$@"; }
if [ -n "${CONFIG_WINE_PREFIX:-}" ]; then
    "$(dirname "$0")/../support/wine_run.sh" "$CONFIG_WINE_PREFIX" cmd /c exit >/dev/null 2>&1
    export WINEPREFIX=$CONFIG_WINE_PREFIX WINEDEBUG=-all at=Z:$f
    cfg() { timeout 120 wine "$config" "$@"; }
fi
old=$'; kept\r\n[a]\r\ncommand=/a\r\n[b]\r\ncommand=/b\r\n'
new=$'; kept\r\n[a]\r\ncommand=/bin/true\r\n[b]\r\ncommand=/b\r\n'
reset() { printf '%s' "$old" >"$f" && chmod 600 "$f"; }
holds() { cmp -s "$1" <(printf '%s' "$2"); }

# Writers at once on a file made from nothing: one makes it, the rest write into it; all land.
rm -f "$f" && for i in $(seq 8); do { cfg --file "$at" set "n$i" --command /bin/true 2>"$scratch/e$i"; echo "status $?" >>"$scratch/e$i"; } & done
wait
for i in $(seq 8); do
    grep -q "^\[n$i\]" "$f" && [ "$(tail -n1 "$scratch/e$i")" = "status 0" ] || fail "made at once: n$i lost or failed: $(cat "$scratch/e$i")"
done

for step in 1 2 3 4 5 6; do
    reset
    TALVIN_CONFIG_TEST_STEP=$step cfg --file "$at" set a --command /bin/true
    check "killed at step $step: status" "$?" 137
    holds "$f" "$old" || holds "$f" "$new" || fail "killed at step $step: torn file"
    rm -f "$scratch"/.talvin.ini.*
done
reset
TALVIN_CONFIG_TEST_STEP=5:change cfg --file "$at" set a --command /bin/true 2>"$scratch/err"
check "changed by another program: status" "$?" 1
grep -q "another program changed it" "$scratch/err" || fail "changed by another program: not said"
holds "$f" "$old; changed by another program"$'\n' || fail "changed by another program: overwritten"
# Another program makes the file after the look that found none: written into, not refused.
rm -f "$f" && TALVIN_CONFIG_TEST_STEP=7:change cfg --file "$at" set n0 --command /bin/true 2>/dev/null
check "made after none was found" "$?:$(tr -d '\r' <"$f" | tr '\n' '~')" "0:; changed by another program~[n0]~command=/bin/true~"
[ -z "${CONFIG_WINE_PREFIX:-}" ] || finish

mkdir "$scratch/elsewhere" && reset && mv "$f" "$scratch/elsewhere/" && ln -s elsewhere/talvin.ini "$f"
cfg --file "$at" set a --command /bin/true
[ -L "$f" ] && holds "$scratch/elsewhere/talvin.ini" "$new" || fail "the link was not followed"
rm "$f" && reset
# Larger than 8 MiB: refused, unchanged.
head -c 8388609 /dev/zero | tr '\0' ';' >"$f" && cp "$f" "$scratch/big"
cfg --file "$at" set a --command /bin/true 2>"$scratch/err"
check "over 8 MiB" "$?:$(cmp -s "$f" "$scratch/big" && grep -c 'larger than 8 MiB' "$scratch/err")" 2:1
reset
# Started without a standard input, the file may be opened as descriptor 0.
cfg --file "$at" set a --command /bin/true <&- && holds "$f" "$new" || fail "no standard input: not written"

printf 'Pw-7d1f\n' | cfg --file "$at" identification --user ann >"$scratch/out" 2>&1
cfg --file "$at" show >>"$scratch/out" 2>&1
grep -rlq Pw-7d1f "$scratch" --exclude=talvin.ini && fail "the password is in $(grep -rl Pw-7d1f "$scratch")"
# Typed at a terminal: asked for, not shown, and taken once echo is off.
{ sleep 1; printf 'Pw-tty\n'; sleep 0.5; } | script -qec "$config --file $at identification --user ann" /dev/null >"$scratch/tty"
check "at a terminal" "$({ cat "$scratch/tty"; grep password "$f"; } | tr -d '\r' | tr '\n' '~')" \
    "Password: ~password=Pw-tty~"

# The new file keeps the old one's mode and group (one that cannot write:
# the launcher reads it).
reset && chmod 640 "$f"
if chgrp 1 "$f" 2>/dev/null; then
    cfg --file "$at" set a --command /bin/true && holds "$f" "$new" || fail "mode and group: not written"
    check "mode and group kept" "$(stat -c '%a %g' "$f")" "640 1"
fi

# Run as root for a user (su or sudo keeping HOME): the user's own file is
# written as that user, never through a link of theirs to a file or folder of
# root's or of another account (two accounts of the test's own, root only).
a=tcfga$$ b=tcfgb$$ home=$scratch/home
if [ "$(id -u)" = 0 ] && useradd -M -d "$home" -s /usr/sbin/nologin -U "$a" 2>/dev/null &&
    useradd -M -d "$scratch/b" -s /usr/sbin/nologin -U "$b" 2>/dev/null; then
    trap 'userdel "$a"; userdel "$b"; cleanup' EXIT
    # The leak check cannot stop a process that acts as another user.
    as_root_for_a() { env -u WINDIR -u XDG_CONFIG_HOME HOME="$home" ASAN_OPTIONS=detect_leaks=0 \
        "$config" "$@" >"$scratch/out" 2>"$scratch/err"; }
    chmod 711 "$scratch" && mkdir -p "$home/.config/talvin" "$scratch/b" && chown -R "$a:" "$home" && chown "$b:" "$scratch/b"
    printf '%s' "$old" | tee "$scratch/root.ini" "$scratch/b/talvin.ini" >"$scratch/before" && chown "$b:" "$scratch/b/talvin.ini"
    # Whoever owns the home: in one of root's, ~/.config is still the user's.
    for owner in "$a" root; do for target in "$scratch/root.ini" "$scratch/b/talvin.ini"; do
        chown "$owner:" "$home" && ln -sfn "$target" "$home/.config/talvin/talvin.ini"
        as_root_for_a set a --command /bin/true
        check "a link to $target, home $owner's: status" "$?:$(grep -c 'belongs to' "$scratch/err")" 2:1
        cmp -s "$target" "$scratch/before" || fail "a link to $target, home $owner's: written"
        as_root_for_a show
        check "a link to $target, home $owner's: shown" "$?:$(wc -c <"$scratch/out")" 2:0
    done; done
    chown "$a:" "$home"
    # A file named outside the home (none at all) through a link of the user's:
    # talvin-config and talvin-sign act as the user too.
    ln -s "$scratch/root.ini" "$home/x.ini" && chown -h "$a:" "$home/x.ini"
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$scratch/key" 2>/dev/null
    env -u HOME ASAN_OPTIONS=detect_leaks=0 "$config" --file "$home/x.ini" set a --command /bin/true 2>/dev/null
    check "a link named outside the home" "$?:$(cmp "$scratch/root.ini" "$scratch/before")" 2:
    env HOME=/root ASAN_OPTIONS=detect_leaks=0 "$(dirname "$config")/tools/talvin-sign" --key "$scratch/key" "$home/x.ini" 2>/dev/null
    check "talvin-sign through a link of the user's" "$?:$(cmp "$scratch/root.ini" "$scratch/before")" 1:
    rm -r "$home/.config" && mkdir "$scratch/rootcfg" && ln -s "$scratch/rootcfg" "$home/.config" && chown -h "$a:" "$home/.config"
    as_root_for_a set a --command /bin/true
    check "a link to root's folder" "$?:$(ls -A "$scratch/rootcfg")" 2:
    rm "$home/.config" && as_root_for_a set a --command /bin/true
    check "made for the user" "$?:$(stat -c %U "$home/.config/talvin/talvin.ini" "$home/.config/talvin" "$home/.config" | sort -u)" "0:$a"
    as_root_for_a --file "$scratch/own.ini" set a --command /bin/true
    check "root's own file outside the home, as root" "$?:$(stat -c %U "$scratch/own.ini")" 0:root
    # The launcher run by the user reads the user's own file only while no
    # other account could change it: an entry for b refuses it, a mask
    # that takes the entry away does not; a folder with the sticky bit
    # protects the user's own folder in it, not b's.
    launcher=$(dirname "$config")/launcher ini=$home/.config/talvin/talvin.ini
    launch_as_a() {
        setpriv --reuid="$a" --regid="$a" --init-groups env -i HOME="$home" PATH=/usr/bin:/bin "$@" \
            ASAN_OPTIONS=detect_leaks=0 "$launcher" "$scratch/game.tvl" 2>&1 | grep -c "$b\|refused\|place"
    }
    printf '[launch]\napp=a\n' >"$scratch/game.tvl" && chmod 644 "$scratch/game.tvl"
    if [ -x "$launcher" ] && setfacl -m "u:$b:rw" "$ini" 2>/dev/null; then
        check "as the user, an entry for another account" "$(launch_as_a)" 1
        chmod 600 "$ini" && check "as the user, the entry masked" "$(launch_as_a)" 0
        mkdir -m 1777 "$scratch/shared" && mkdir "$scratch/shared/talvin" && cp "$ini" "$scratch/shared/talvin/"
        chown -R "$a:" "$scratch/shared/talvin"
        check "as the user, the own folder in a sticky one" "$(launch_as_a XDG_CONFIG_HOME="$scratch/shared")" 0
        chown "$b:" "$scratch/shared/talvin"
        check "as the user, another's folder in a sticky one" "$(launch_as_a XDG_CONFIG_HOME="$scratch/shared")" 1
        # A name of another account's that leads to the user's own file: refused, as the launcher refuses it.
        ln -s "$ini" "$scratch/shared/x.ini" && chown -h "$b:" "$scratch/shared/x.ini" && cp "$ini" "$scratch/before.ini"
        setpriv --reuid="$a" --regid="$a" --init-groups env HOME="$home" ASAN_OPTIONS=detect_leaks=0 \
            "$config" --file "$scratch/shared/x.ini" set c --command /bin/true 2>/dev/null
        check "as the user, through another's link in a sticky folder" "$?:$(cmp -s "$ini" "$scratch/before.ini" || echo changed)" 2:
    fi
else
    echo "skipped: root writing for a user needs root and two accounts made by useradd"
fi

# An access control list longer than a page (tmpfs keeps one) still
# counts: its entry for another account refuses the file.
mnt=$scratch/mnt
if [ "$(id -u)" = 0 ] && [ -z "${CONFIG_WINE_PREFIX:-}" ] && mkdir "$mnt" &&
    mount -t tmpfs tmpfs "$mnt" 2>/dev/null; then
    reset && cp "$f" "$mnt/long.ini" &&
        setfacl -m "$(printf 'u:%d:r,' $(seq 20000 20600))u:1:rw" "$mnt/long.ini" &&
        "$config" --file "$mnt/long.ini" set a --command /bin/true 2>/dev/null
    check "a long access control list: status" "$?" 2
    umount "$mnt"
fi
finish
