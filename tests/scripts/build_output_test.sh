#!/usr/bin/env bash
# scripts/build on a machine where packages are missing: apt-get, dpkg-query
# and cmake are stand-ins on PATH that print on standard output, as the real
# ones do. The script must print exactly one line, the build folder, and say
# why it stops when the installation fails.
set -u
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/repo/scripts" "$work/bin"
cp "$src/scripts/build" "$src/scripts/setup" "$work/repo/scripts/"
cat > "$work/bin/dpkg-query" <<'SH'
#!/bin/sh
echo "deinstall ok not-installed"
SH
cat > "$work/bin/apt-get" <<'SH'
#!/bin/sh
echo "Reading database ... 100%"
echo "$@" >> "$APT_LOG"
exit "${APT_STATUS:-0}"
SH
cat > "$work/bin/cmake" <<'SH'
#!/bin/sh
echo "-- Configuring done"
echo "[1/1] Linking CXX executable sonoteka"
SH
printf '#!/bin/sh\n"$@"\n' > "$work/bin/sudo"
chmod +x "$work/bin/"*
fail() { echo "FAIL: $*"; exit 1; }

export APT_LOG="$work/apt.log"
out=$(PATH="$work/bin:$PATH" "$work/repo/scripts/build" debug 2>"$work/err")
status=$?
[ $status -eq 0 ] || fail "scripts/build exited $status: $(cat "$work/err")"
[ "$out" = "$work/repo/build" ] || fail "standard output was not the build folder alone: [$out]"
grep -q "install .*libgtest-dev" "$APT_LOG" || fail "apt-get was not asked to install the missing packages"
grep -q "Installation des paquets manquants" "$work/err" || fail "setup did not say what it installs"
grep -q "Reading database" "$work/err" || fail "apt-get's output did not reach standard error"

# A failed installation stops the build with a message and a non-zero status.
: > "$APT_LOG"
out=$(PATH="$work/bin:$PATH" APT_STATUS=100 "$work/repo/scripts/build" debug 2>"$work/err")
status=$?
[ $status -ne 0 ] || fail "scripts/build went on after apt-get failed"
[ -z "$out" ] || fail "a failed build printed a folder: [$out]"
grep -q "Installation impossible des paquets" "$work/err" || fail "no message when apt-get fails"
echo "ok"
