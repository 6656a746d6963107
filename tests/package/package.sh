#!/usr/bin/env bash
# The Debian package as a user gets it: CPack builds it from the build folder into a scratch
# folder; its control fields name the Qt 6 libraries, unixODBC and the FreeTDS driver; it
# holds the program, desktop entry, icons, AppStream metadata, manual page, copyright, the
# disabled autostart entry and the systemd units with their system user, nothing outside /usr; lintian finds nothing; it installs into
# a throw-away root with dpkg --root, where the metadata validates as installed, the program
# from it makes a backup against the TDS stand-in, and it removes leaving no file behind.
# Usage: package.sh <build folder> <version> <tds_standin>
set -u
BUILD=$1
VERSION=$2
STANDIN_EXE=$3

here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools cpack dpkg dpkg-deb dpkg-shlibdeps lintian appstreamcli desktop-file-validate

scratch package
APP=
watched=(APP standin_pid)

# Build the package.
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log"; fail "cpack failed"; }
debs=("$WORK"/out/vestrel_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single vestrel_*.deb"
DEB=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$DEB")" = "vestrel_${VERSION}-1_${arch}.deb" ] || fail "unexpected file name $(basename "$DEB")"
echo "package: $(basename "$DEB"), $(stat -c %s "$DEB") bytes"

# Control fields.
field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package)" = vestrel ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$VERSION-1" ] || fail "Version is $(field Version)"
depends=$(field Depends)
echo "Depends: $depends"
for needed in tdsodbc odbcinst libodbc2 libqt6core6 libqt6gui6 libqt6widgets6; do
  tr ',' '\n' <<<"$depends" | grep -q "^ *$needed\( (.*)\)\?$" || fail "Depends does not name $needed"
done
echo "Installed-Size: $(field Installed-Size) KiB"

# Contents: what a desktop program brings, all under /usr, nothing of the build or tests.
dpkg-deb --contents "$DEB" >"$WORK/contents" || fail "dpkg-deb --contents failed"
has() { # <mode> <path>
  grep -q "^$1 root/root .* \./$2\$" "$WORK/contents" || fail "the package has no $2 with mode $1"
}
has -rwxr-xr-x usr/bin/vestrel
has -rw-r--r-- usr/share/applications/io.github.vestrel.vestrel.desktop
has -rw-r--r-- usr/share/metainfo/io.github.vestrel.vestrel.metainfo.xml
for size in 16 22 24 32 48; do has -rw-r--r-- "usr/share/icons/hicolor/${size}x$size/apps/vestrel.png"; done
has -rw-r--r-- usr/share/icons/hicolor/scalable/apps/vestrel.svg
has -rw-r--r-- usr/share/man/man1/vestrel.1.gz
has -rw-r--r-- usr/share/doc/vestrel/copyright
has -rw-r--r-- usr/share/doc/vestrel/changelog.gz
has -rw-r--r-- usr/share/doc/vestrel/changelog.Debian.gz
has -rw-r--r-- usr/share/vestrel/autostart/vestrel.desktop
for unit in vestrel-backup.service vestrel-backup.timer; do has -rw-r--r-- "usr/lib/systemd/user/$unit"; done
for unit in vestrel-backup@.service vestrel-backup@.timer; do has -rw-r--r-- "usr/lib/systemd/system/$unit"; done
has -rw-r--r-- usr/lib/sysusers.d/vestrel.conf
dpkg-deb --ctrl-tarfile "$DEB" | tar -tvf - | grep -q '^-rwxr-xr-x .* \./postinst$' ||
  fail "the package has no executable postinst"
awk '{print $6}' "$WORK/contents" | grep -v '^\./$' | grep -v '^\./usr/' &&
  fail "files outside /usr"
grep -E 'tds_standin|tst_|bench|/etc/xdg/autostart' "$WORK/contents" && fail "test or build files, or an enabled autostart entry"

# lintian: no error and no warning (infos are shown).
lintian --fail-on error,warning --info "$DEB" >"$WORK/lintian.log" 2>&1
status=$?
grep -v 'running with root privileges' "$WORK/lintian.log"
[ "$status" -eq 0 ] || fail "lintian found faults"
echo "lintian: clean"

# Install into a throw-away root with its own empty package database; the dependencies are
# this machine's, so they are not looked for there. The maintainer script runs here, not
# chrooted into the empty root, and works on the root dpkg names in DPKG_ROOT.
ROOT=$WORK/root
mkdir -p "$ROOT/var/lib/dpkg/info" "$ROOT/var/lib/dpkg/updates" "$ROOT/var/lib/dpkg/triggers" "$ROOT/etc"
: >"$ROOT/var/lib/dpkg/status"
dpkg_root() {
  dpkg --root="$ROOT" --log=/dev/null --force-depends --force-not-root --force-script-chrootless \
    "$@" >>"$WORK/dpkg.log" 2>&1
}
dpkg_root -i "$DEB" || { cat "$WORK/dpkg.log"; fail "dpkg --root -i failed"; }
dpkg --root="$ROOT" -s vestrel 2>/dev/null | grep -q '^Status: install ok installed$' ||
  fail "the package is not installed in the throw-away root"
# The services' system user, where systemd-sysusers is (it is part of systemd).
if command -v systemd-sysusers >/dev/null 2>&1; then
  grep -q '^vestrel:x:[0-9]*:[0-9]*:Vestrel backups:/var/lib/vestrel:' "$ROOT/etc/passwd" ||
    fail "postinst made no vestrel system user"
fi

# The metadata, validated where it is installed (desktop entry, metainfo and icons together).
appstreamcli validate-tree --no-net --pedantic "$ROOT" || fail "appstreamcli validate-tree"
for entry in "$ROOT/usr/share/applications/io.github.vestrel.vestrel.desktop" \
  "$ROOT/usr/share/vestrel/autostart/vestrel.desktop"; do
  out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate $entry: $out"
done
zcat "$ROOT/usr/share/doc/vestrel/changelog.gz" | grep -q "^## $VERSION " ||
  fail "the changelog does not start with $VERSION"

# The installed program: every library it needs is found, and it makes a backup.
EXE=$ROOT/usr/bin/vestrel
ldd "$EXE" | grep 'not found' && fail "libraries not found"
standin_start --password pkg-secret
# The current and the next hour enabled: an automatic backup starts at once even when this
# hour ends while the program starts.
hour=$(date +%-H)
DATA=$WORK/data
mkdir -p "$DATA"
write_config "$ROOT/usr/bin/config.ini" "127.0.0.1,$port" Pkg pkg-secret "$DATA/Pkg.bak" \
  "$(hour_flags "$hour" $(((hour + 1) % 24)))"
chmod 600 "$ROOT/usr/bin/config.ini"
LOG=$ROOT/usr/bin/Command.log
QT_QPA_PLATFORM=offscreen "$EXE" >"$WORK/app.log" 2>&1 &
APP=$!
for _ in $(seq 200); do
  log_has ' > Fine Backup in data ' || log_has ' > Errore ' && break
  kill -0 "$APP" 2>/dev/null || break
  sleep 0.1
done
log_has ' > Fine Backup in data ' && ! log_has ' > Errore ' || {
  cat "$WORK/app.log" "$LOG" 2>/dev/null
  fail "the installed program made no backup"
}
grep -q '^VESTREL-STANDIN-BACKUP$' "$DATA/Pkg.bak" || fail "no backup file"
kill -TERM "$APP"
wait "$APP"
status=$?
APP=
[ "$status" -eq 0 ] || fail "the program ended with status $status on SIGTERM"
echo "installed program: backup made"

# Removal leaves only what the program wrote and the system user (Debian keeps those), none of
# the package's files.
rm -f "$ROOT/usr/bin/config.ini" "$LOG" "$ROOT/usr/bin/state.json"
dpkg_root -r vestrel || { cat "$WORK/dpkg.log"; fail "dpkg --root -r failed"; }
left=$(find "$ROOT" -path "$ROOT/var/lib/dpkg" -prune -o -type f -print |
  grep -vxE "$ROOT/etc/(passwd|group|shadow|gshadow|\.pwd\.lock)-?")
[ -z "$left" ] || fail "files left after removal: $left"
echo PASS
