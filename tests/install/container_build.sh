#!/bin/sh
# Builds the runtime image of deploy/container/Containerfile with the container engine found
# (podman, docker or buildah) and checks it: tarvex-cli answers --help, links no Qt, and makes
# and uses a workspace on a volume. Without an engine the test is skipped (exit 77).
# Usage: container_build.sh SOURCE_DIR
set -eu
SRC="$1"
ENGINE=""
FOUND=""
for e in podman docker buildah; do
  command -v "$e" >/dev/null 2>&1 || continue
  FOUND="$FOUND $e"
  # A client without its daemon (docker with no dockerd) cannot build.
  if "$e" info >/dev/null 2>&1; then ENGINE="$e"; break; fi
done
if [ -z "$ENGINE" ]; then
  if [ -n "$FOUND" ]; then
    echo "container_build: skipped: found$FOUND, but none answers (\"info\" fails: no daemon or no rights)"
  else
    echo "container_build: skipped: no container engine (podman, docker or buildah) on this machine"
  fi
  exit 77
fi
TAG="localhost/tarvex-cli-test:$$"
TMP="$(mktemp -d /tmp/tarvex-container-test.XXXXXX)"
RUN="$ENGINE"
[ "$ENGINE" = buildah ] && RUN="podman"
cleanup() { "$ENGINE" rmi -f "$TAG" >/dev/null 2>&1 || true; rm -rf "$TMP"; }
trap cleanup EXIT
fail() { echo "container_build: $*" >&2; exit 1; }

if [ "$ENGINE" = buildah ]; then
  buildah bud -f "$SRC/deploy/container/Containerfile" -t "$TAG" "$SRC" || fail "the image did not build"
  command -v podman >/dev/null 2>&1 || { echo "container_build: built with buildah; no podman to run it"; exit 0; }
else
  "$ENGINE" build -f "$SRC/deploy/container/Containerfile" -t "$TAG" "$SRC" || fail "the image did not build"
fi
"$RUN" run --rm "$TAG" --help | grep -q "usage: tarvex-cli" || fail "--help in the image"
"$RUN" run --rm --entrypoint /bin/sh "$TAG" -c 'ldd /usr/bin/tarvex-cli | grep -i libqt' && fail "the image's tarvex-cli links Qt"
chmod 777 "$TMP"
"$RUN" run --rm -v "$TMP:/workspace" "$TAG" task create 容器任务 >/dev/null || fail "task create in the image"
"$RUN" run --rm -v "$TMP:/workspace" "$TAG" tasks | grep -q 容器任务 || fail "the task was not kept on the volume"
echo "container_build: ok ($ENGINE)"
