#!/usr/bin/env bash
# Tries the README's two commands as a newcomer would: on a minimal Debian 12
# root made with debootstrap (nothing installed but the base system, as
# root, no /etc/hosts), with the project cloned into it. Reports each step
# as pass or fail with its time. Run by hand (as root, with network):
#
#   scripts/fresh_debian_check.sh [--root DIR] [--keep] [--play-only] [--mirror URL]
#
#   --root DIR    make the root there (default a new folder under /var/tmp);
#                 a DIR that already holds a Debian root is reused as it is
#   --keep        leave the root in place afterwards (it is deleted otherwise)
#   --play-only   run scripts/play.sh only, not the whole scripts/test.sh
#                 (which takes about half an hour on two cores)
#   --mirror URL  the Debian mirror (default http://deb.debian.org/debian)
#
# The clone is of this repository's committed HEAD. scripts/play.sh runs
# with --help passed through to the game (it builds the game and its data,
# then the game prints its usage and exits); then the built game starts
# under Xvfb for a few seconds and must reach its main loop. Without root,
# debootstrap or network the check is skipped with a message (status 0).
set -u

root=""
keep=0
play_only=0
mirror=http://deb.debian.org/debian
while [ $# -gt 0 ]; do
  case "$1" in
    --root) root=${2:?--root needs a folder}; shift 2 ;;
    --keep) keep=1; shift ;;
    --play-only) play_only=1; shift ;;
    --mirror) mirror=${2:?--mirror needs a URL}; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "fresh_debian_check: unknown option '$1' (--help lists them)" >&2; exit 2 ;;
  esac
done

skip() { echo "fresh Debian check SKIPPED: $*"; exit 0; }
[ "$(id -u)" -eq 0 ] || skip "it needs root (debootstrap and chroot)"
command -v debootstrap >/dev/null || skip "debootstrap is not installed (apt-get install debootstrap)"
command -v git >/dev/null || skip "git is not installed"
host=$(sed -E 's|^[a-z]+://([^/:]+).*|\1|' <<<"$mirror")
timeout 10 bash -c "exec 3<>/dev/tcp/$host/80" 2>/dev/null || skip "no network connection to $host"

repo=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "$root" ]; then
  root=$(mktemp -d /var/tmp/torvane-fresh-XXXXXX)
fi
mkdir -p "$root"
root=$(cd "$root" && pwd)
[ "$root" != / ] || { echo "fresh_debian_check: refusing to use / as the root" >&2; exit 2; }
log_dir=$(mktemp -d /tmp/torvane-fresh-logs-XXXXXX)

# Mounts the chroot needs; every one is undone before anything is deleted.
mounted=0
mount_all() {
  mount -t proc proc "$root/proc" && mount -t sysfs sys "$root/sys" &&
    mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" && mounted=1
}
unmount_all() {
  [ "$mounted" -eq 1 ] || return 0
  umount -R "$root/dev" 2>/dev/null || umount -lR "$root/dev"
  umount "$root/sys" 2>/dev/null || umount -l "$root/sys"
  umount "$root/proc" 2>/dev/null || umount -l "$root/proc"
  mounted=0
}
still_mounted() { awk -v r="$root/" 'index($2 "/", r) == 1 { found = 1 } END { exit !found }' /proc/mounts; }
cleanup() {
  unmount_all
  if [ "$keep" -eq 0 ]; then
    if still_mounted; then
      echo "Something is still mounted under $root: it is left in place" >&2
    else
      rm -rf --one-file-system "$root"
    fi
  else
    echo "The root stays in $root"
  fi
}
trap cleanup EXIT

# The results: one line per step.
results=()
failed=0
step() {
  local name=$1
  shift
  local started=$SECONDS status=0
  echo "== $name"
  "$@" > "$log_dir/$name.log" 2>&1 || status=$?
  local seconds=$((SECONDS - started))
  if [ "$status" -eq 0 ]; then
    results+=("$(printf 'PASS  %-12s %6d s' "$name" "$seconds")")
  else
    results+=("$(printf 'FAIL  %-12s %6d s  (status %d; the end of its output follows)' "$name" "$seconds" "$status")")
    tail -n 25 "$log_dir/$name.log"
    failed=1
  fi
  return "$status"
}
# A command as root inside the fresh system, with nothing of the caller's
# environment.
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$1"
}

make_root() {
  if [ -f "$root/etc/debian_version" ]; then
    echo "Reusing the Debian root in $root"
    return 0
  fi
  debootstrap --variant=minbase bookworm "$root" "$mirror"
}
clone() {
  rm -rf "$root/root/torvane"
  git clone --quiet --no-hardlinks "$repo" "$root/root/torvane"
}
play() {
  in_root 'cd /root/torvane && scripts/play.sh --help' > "$log_dir/play.out" || return 1
  cat "$log_dir/play.out"
  grep -q '^Usage: torvane' "$log_dir/play.out"
}
# The game built by play.sh, under Xvfb (which the set-up installed) for a
# few seconds: it must reach its main loop.
start_game() {
  in_root 'cd /root/torvane && export XDG_DATA_HOME=/tmp/fresh-home SDL_AUDIODRIVER=dummy &&
    rm -rf /tmp/fresh-home && timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" \
      timeout -s TERM 15 build/bin/torvane --nosound --width 640 --height 480
    cat /tmp/fresh-home/torvane/lastlog.txt
    grep -q "Entering main loop" /tmp/fresh-home/torvane/lastlog.txt'
}
tests() { in_root 'cd /root/torvane && scripts/test.sh'; }

echo "Making a minimal Debian 12 root in $root (logs in $log_dir)"
if step debootstrap make_root && mount_all && step clone clone; then
  step play.sh play && step start-game start_game
  [ "$play_only" -eq 1 ] || step test.sh tests
fi
unmount_all

echo
echo "Fresh Debian 12 check ($root):"
for line in "${results[@]}"; do echo "  $line"; done
[ "$failed" -eq 0 ] && echo "All steps passed." || echo "Some steps failed; the logs are in $log_dir."
exit "$failed"
