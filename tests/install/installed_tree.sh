#!/bin/sh
# The installed program: `cmake --install` into a DESTDIR, then the installed tarvex-cli answers
# --help and, started with no workspace of its own, makes the user's workspace from the
# installed template ($XDG_DATA_HOME/tarvex, else ~/.local/share/tarvex); --workspace still wins.
# Usage: installed_tree.sh BUILD_DIR CMAKE
set -eu
BUILD="$1"
CMAKE="$2"
TMP="$(mktemp -d /tmp/tarvex-install-test.XXXXXX)"
trap 'rm -rf "$TMP"' EXIT
fail() { echo "installed_tree: $*" >&2; exit 1; }

DESTDIR="$TMP/root" "$CMAKE" --install "$BUILD" --prefix /usr >"$TMP/install.log" || { cat "$TMP/install.log"; fail "install failed"; }
CLI="$TMP/root/usr/bin/tarvex-cli"
[ -x "$CLI" ] || fail "no usr/bin/tarvex-cli"
for f in usr/share/tarvex/workspace/Plugin/dict/dict.jdb usr/share/tarvex/workspace/Plugin/kindeditor/report.html \
         usr/share/tarvex/workspace/Plugin/kindeditor/index.html \
         usr/share/applications/tarvex.desktop \
         usr/share/icons/hicolor/48x48/apps/tarvex.png usr/share/icons/hicolor/scalable/apps/tarvex.svg \
         usr/share/tarvex/wordpress/tarvex-publisher.zip usr/share/tarvex/wordpress/tarvex-publisher/tarvex.php \
         usr/share/tarvex/wordpress/tarvex.php; do
  [ -s "$TMP/root/$f" ] || fail "$f not installed"
done
if [ -e "$BUILD/bin/tarvex" ]; then
  [ -x "$TMP/root/usr/bin/tarvex" ] || fail "no usr/bin/tarvex"
  # F1 opens the guide beside the installed program, pictures included.
  [ -s "$TMP/root/usr/share/doc/tarvex/guide/index.md" ] || fail "the user guide was not installed"
  ls "$TMP/root/usr/share/doc/tarvex/guide/images/"*.png >/dev/null 2>&1 || fail "the guide's pictures were not installed"
fi

env -i PATH=/usr/bin:/bin HOME="$TMP/home" "$CLI" --help >"$TMP/help.txt" || fail "--help failed"
grep -q "usage: tarvex-cli" "$TMP/help.txt" || fail "--help printed: $(cat "$TMP/help.txt")"
[ ! -e "$TMP/home/.local/share/tarvex" ] || fail "--help made a workspace"

# First use without XDG_DATA_HOME: ~/.local/share/tarvex from the template.
mkdir -p "$TMP/home"
env -i PATH=/usr/bin:/bin HOME="$TMP/home" "$CLI" tasks >"$TMP/tasks.txt" 2>&1 || { cat "$TMP/tasks.txt"; fail "tasks failed"; }
WS="$TMP/home/.local/share/tarvex"
[ -s "$WS/config/config.db3" ] || fail "no $WS/config/config.db3: $(cat "$TMP/tasks.txt")"
[ -s "$WS/Plugin/dict/dict.jdb" ] || fail "the template's dictionary was not copied"
[ -s "$WS/Plugin/kindeditor/report.html" ] || fail "the template's editor page was not copied"
[ -s "$WS/Plugin/kindeditor/index.html" ] || fail "the template's single-page editor page was not copied"
[ ! -e "$TMP/root/usr/share/tarvex/workspace/config/config.db3" ] || fail "the template carries the demo's tasks"
grep -q "本地任务" "$TMP/tasks.txt" || fail "tasks printed: $(cat "$TMP/tasks.txt")"
# The new workspace is used from then on: a task created in it is listed by the next start.
env -i PATH=/usr/bin:/bin HOME="$TMP/home" "$CLI" task create "安装测试" >/dev/null 2>&1 || fail "task create failed"
env -i PATH=/usr/bin:/bin HOME="$TMP/home" "$CLI" tasks 2>&1 | grep -q "安装测试" || fail "the task was not kept"

# XDG_DATA_HOME decides where it goes.
env -i PATH=/usr/bin:/bin HOME="$TMP/home" XDG_DATA_HOME="$TMP/xdg" "$CLI" tasks >/dev/null 2>&1 || fail "tasks with XDG_DATA_HOME failed"
[ -s "$TMP/xdg/tarvex/config/config.db3" ] || fail "no workspace under XDG_DATA_HOME"

# --workspace wins: nothing is made elsewhere, and a folder without a workspace is refused with advice.
mkdir -p "$TMP/given"
if env -i PATH=/usr/bin:/bin HOME="$TMP/home2" "$CLI" --workspace "$TMP/given" tasks >"$TMP/given.txt" 2>&1; then
  fail "an empty --workspace folder was accepted"
fi
grep -q "init" "$TMP/given.txt" || fail "no advice for an empty --workspace folder: $(cat "$TMP/given.txt")"
[ ! -e "$TMP/home2" ] || fail "a workspace was made although --workspace was given"
env -i PATH=/usr/bin:/bin HOME="$TMP/home2" "$CLI" --workspace "$TMP/given" init >/dev/null || fail "init failed"
env -i PATH=/usr/bin:/bin HOME="$TMP/home2" "$CLI" --workspace "$TMP/given" tasks >/dev/null || fail "tasks after init failed"
[ -s "$TMP/given/Plugin/dict/dict.jdb" ] || fail "init did not use the installed template"
echo "installed_tree: ok"
