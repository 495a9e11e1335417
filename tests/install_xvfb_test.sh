#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installation as
# a user would meet it: every file in place, the desktop entry and metainfo
# accepted by their validators, the service unit naming the installed server,
# and the installed game and race runner finding their data from another
# directory with a fresh home and no QX_HOME. Exits 77 (skipped) when the
# validators are missing.
set -u
bin=${1:?bin dir}
build=$(cd "$bin/.." && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for tool in desktop-file-validate appstreamcli; do
  command -v $tool >/dev/null || { echo "$tool missing (desktop-file-utils, appstream): skipped"; exit 77; }
done
work=$(mktemp -d /tmp/torvane-install-XXXXXX)
xvfb_pid=""
trap '[ -n "$xvfb_pid" ] && kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -n "${log:-}" ] && { echo "--- log"; tail -30 "$log" 2>/dev/null; }; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" > "$work/install.txt" 2>&1 || { cat "$work/install.txt"; fail "cmake --install"; }
id=io.github.torvane.Torvane
for f in bin/torvane bin/torvane-server bin/torvane-race share/torvane/torvane.saf share/torvane/torvane-server.cfg \
         share/torvane/demos/start40.qxdemo share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/256x256/apps/$id.png share/man/man6/torvane.6.gz share/man/man6/torvane-server.6.gz \
         share/man/man6/torvane-race.6.gz lib/systemd/system/torvane-server.service; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/torvane" ] || fail "the game is not executable"
cmp -s "$bin/torvane.saf" "$prefix/share/torvane/torvane.saf" || fail "the installed archive differs from the build's"

# The icon: a PNG of the size its folder says (the IHDR width and height
# are big-endian words at bytes 16 and 20).
icon="$prefix/share/icons/hicolor/256x256/apps/$id.png"
[ "$(od -An -tx1 -N8 "$icon" | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "the icon is not a PNG"
size=$(od -An -tu1 -j16 -N8 "$icon" | awk '{ printf "%dx%d", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }')
[ "$size" = 256x256 ] || fail "the icon is $size, not 256x256"

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" > "$work/appstream.txt" 2>&1 ||
  { cat "$work/appstream.txt"; fail "appstreamcli validate"; }
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "the desktop entry names another icon"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo names another desktop entry"
grep -qx "ExecStart=$prefix/bin/torvane-server .*" "$prefix/lib/systemd/system/torvane-server.service" ||
  fail "the unit does not start the installed server: $(grep ExecStart "$prefix/lib/systemd/system/torvane-server.service")"
grep -qx "StandardInput=null" "$prefix/lib/systemd/system/torvane-server.service" || fail "the unit leaves stdin open"
if command -v groff >/dev/null; then
  for page in "$prefix"/share/man/man6/*.6.gz; do
    warnings=$(gzip -dc "$page" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
fi

# From elsewhere, with a fresh home: the installed race runner finds the
# data beside its bin directory...
mkdir -p "$work/elsewhere"
cd "$work/elsewhere"
unset QX_HOME
(XDG_DATA_HOME="$work/racehome" "$prefix/bin/torvane-race" --robots 1 --laps 1 --limit-minutes 0.02 --no-progress \
  < /dev/null > "$work/race.txt" 2>&1) || { cat "$work/race.txt"; fail "the installed race runner"; }
grep -q "state hash" "$work/race.txt" || { cat "$work/race.txt"; fail "the installed race runner raced no race"; }

# ...and so does the game: it loads a track, enters its loop, and ends
# with status 0 on SIGTERM.
source "$here/xvfb_home.sh"
start_xvfb_home 1024x768x24
start_game "$prefix/bin/torvane" --nosound --width 320 --height 240 ||
  { cat "$work/stderr"; fail "the installed game did not start"; }
grep -q "Resetting" "$log" || fail "the installed game loaded no track"
stop_game || fail "the installed game did not end on SIGTERM"
[ "$status" -eq 0 ] || fail "the installed game exited with $status"
echo "install to a prefix: ok ($(du -sh "$prefix" | cut -f1))"
