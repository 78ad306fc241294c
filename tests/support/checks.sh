# The shell tests' checks, sourced after `failed=0`: a check runs its command and names itself
# when it fails; `await` polls a command until it succeeds, at most 20 s (the sanitizer builds start
# slowly), or 2 s once a check has failed, so that a broken build ends soon.
check() { "${@:2}" || { echo "FAILED: $1"; failed=1; }; }
has() { grep -qF -- "$2" "$1" 2> /dev/null; }
await() { local end=$((SECONDS + (failed ? 2 : 20))); until "$@"; do ((SECONDS < end)) || return 1; sleep 0.02; done; }
ms() { echo $(($(date +%s%N) / 1000000)); }
