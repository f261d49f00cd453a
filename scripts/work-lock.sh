# Sourced by the scripts that empty a working folder of the program before they run it there
# (scripts/run, scripts/compare-clocks). While a program runs on a working folder it holds the
# folder's single-instance lock (app/Program.cpp); a script takes the same lock before it removes
# anything, so that it never empties a folder that a running program writes to, and releases it
# just before its own program takes it. The lock file itself is never removed: a new file would
# be a new lock.

QUILLON_LOCK_NAME="Local__Quillon_.lock"
quillon_lock_fds=()

# quillon_lock_work WHO WORK [HINT]: takes the lock of WORK (made when missing) or ends the script
# with the reason on stderr (WHO: the script's name; HINT: what the user may do about it).
quillon_lock_work() {
  local who="$1" work="$2" hint="${3:-stop it and try again}" fd
  mkdir -p "$work"
  exec {fd}>>"$work/$QUILLON_LOCK_NAME"
  if ! flock -n "$fd"; then
    echo "$who: a program still runs on $work (it holds $work/$QUILLON_LOCK_NAME): nothing removed; $hint" >&2
    exit 1
  fi
  quillon_lock_fds+=("$fd")
}

# quillon_empty_work WORK [KEEP...]: removes everything in WORK but its lock file and the names
# KEEP; WORK's lock must be held.
quillon_empty_work() {
  local work="$1" keep
  shift
  local spare=(! -name "$QUILLON_LOCK_NAME")
  for keep in "$@"; do
    spare+=(! -name "$keep")
  done
  find "$work" -mindepth 1 -maxdepth 1 "${spare[@]}" -exec rm -rf {} +
}

# quillon_unlock_works: releases every lock taken, just before a program takes them itself.
quillon_unlock_works() {
  local fd
  for fd in ${quillon_lock_fds[@]+"${quillon_lock_fds[@]}"}; do
    exec {fd}>&-
  done
  quillon_lock_fds=()
}
