#!/usr/bin/env bash
# Checks the release in dist/ (made by scripts/release.sh) the way a packager would, and ends
# with "release: N passed, M failed"; the exit code is non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/../.."
version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=dist/Corvane-$version-win64.zip deb=dist/corvane_${version}_amd64.deb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() { # what is checked, then the command that must succeed
  if "${@:2}" > "$work/said" 2>&1; then passed=$((passed + 1)); echo "ok: $1"
  else failed=$((failed + 1)); echo "FAILED: $1"; sed 's/^/  /' "$work/said"; fi
}
same() { [ "$1" = "$2" ] || { printf 'got:      %s\nexpected: %s\n' "$1" "$2"; false; }; }
windows_dlls_only() {
  unzip -p "$zip" Corvane.exe > "$work/Corvane.exe" && file "$work/Corvane.exe" | grep 'PE32+' &&
    objdump -p "$work/Corvane.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' > "$work/dlls" &&
    grep -qx kernel32.dll "$work/dlls" &&
    ! grep -vxE '(kernel32|user32|gdi32|comctl32|shell32|advapi32|ole32|ws2_32|winhttp|msvcrt)\.dll' \
      "$work/dlls"
}
unit_verifies() { # the unit as packaged, starting the unpacked program
  sed "s|^ExecStart=/usr/bin/corvane$|ExecStart=$work/root/usr/bin/corvane|" \
    "$work/root/usr/lib/systemd/user/corvane.service" > "$work/corvane.service" || return 1
  local said
  said=$(systemd-analyze verify "$work/corvane.service" 2>&1) && [ -z "$said" ] || ! echo "$said"
}

check "checksums" eval '(cd dist && sha256sum --check --strict SHA256SUMS)'
check "zip holds Corvane.exe, README.txt, LICENSE, CHANGELOG.md" \
  same "$(unzip -Z1 "$zip" | sort | xargs)" "CHANGELOG.md Corvane.exe LICENSE README.txt"
check "Corvane.exe imports Windows' own DLLs only" windows_dlls_only
check "Corvane.exe's version resource" same \
  "$(strings -el "$work/Corvane.exe" | grep -A1 -xE 'FileVersion|ProductVersion' | grep -vx -- -- | xargs)" \
  "FileVersion $version.0 ProductVersion $version.0"
check "lintian reports no errors" lintian --fail-on error "$deb"
check "package contents" same "$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ {print $6}' | sort | xargs)" \
  "$(printf './usr/%s\n' bin/corvane lib/systemd/user/corvane.service share/man/man1/corvane.1.gz \
     share/doc/corvane/{README.md,changelog.gz,copyright,linux.md} | sort | xargs)"
check "package depends on libcurl4" eval 'dpkg-deb -f "$deb" Depends | grep -E "(^|, )libcurl4( |,|$)"'
dpkg-deb -x "$deb" "$work/root"
check "unpacked corvane --version" same "$("$work/root/usr/bin/corvane" --version)" "Corvane $version"
command -v systemd-analyze > /dev/null && check "systemd-analyze verify of the user unit" unit_verifies
echo "release: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
