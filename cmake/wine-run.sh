#!/bin/sh
# Runs a Windows program of the cross build under Wine.
#
#   wine-run.sh [--private-prefix] PROGRAM.exe [ARGUMENT ...]
#   wine-run.sh --prepare
#
# WINEPREFIX names the prefix (required). It is created on first use, once,
# under a lock, so parallel tests can share it. WINEDEBUG defaults to -all,
# which also keeps Debian's wine wrapper from printing its wine32 hint.
# QUILLRUN_WINE names the wine command (default: wine).
#
# --prepare creates the prefix if need be and returns once Wine has written
# it out and its server has exited.
#
# --private-prefix is for the end-to-end tests, whose cases each run in
# private user and mount namespaces with their own tmpfs on /tmp and /run,
# so that each case has a Wine server of its own:
#  - the shared prefix becomes the read-only lower layer of an overlay whose
#    upper layer lies in /run: what this server writes at exit (the
#    registry) never reaches the shared prefix;
#  - Wine's server directory goes to /run too (TMPDIR), so /tmp is left as
#    the program leaves it;
#  - the session (the server, wineboot and the services it starts) is
#    started by a first process with its standard streams on /dev/null;
#    otherwise those processes would hold the caller's pipes open for a
#    second after the program has exited;
#  - the caller's USERNAME is carried past Wine, which lays the session's
#    registry environment over it, in QUILLRUN_CALLER_USERNAME ("set:VALUE"
#    or "unset"), for the end-to-end launcher to hand on exactly.
# Outside a private user namespace nothing is mounted; a run without
# --private-prefix enters one of its own and then runs as with it.
set -eu

: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# No menu entries or file associations for the desktop: saves a process at
# every start of a Wine server.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d}"
wine=${QUILLRUN_WINE:-wine}
ready="$WINEPREFIX/.quillrun-prefix-ready"

prepare() {
  [ -f "$ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$ready" ]; then
      "$wine" wineboot.exe --init </dev/null >/dev/null 2>&1 || true
      # Every new Wine server starts the prefix's services: the event log
      # and plug and play (device drivers) serve no console program and
      # cost a third of the start-up time.
      for service in Eventlog PlugPlay; do
        "$wine" reg.exe add "HKLM\\System\\CurrentControlSet\\Services\\$service" \
          /v Start /t REG_DWORD /d 4 /f </dev/null >/dev/null 2>&1 || true
      done
      wineserver -w
      [ -f "$WINEPREFIX/system.reg" ] && touch "$ready"
    fi
  ) 9>"$WINEPREFIX.lock"
  [ -f "$ready" ] || { echo "wine-run.sh: cannot create the Wine prefix $WINEPREFIX" >&2; exit 1; }
}

in_private_user_namespace() {
  # The initial user namespace maps every id onto itself.
  ! grep -qE '^ *0 +0 +4294967295 *$' /proc/self/uid_map
}

case "${1:-}" in
--prepare)
  prepare
  wineserver -w
  exit 0
  ;;
--private-prefix)
  shift
  prepare
  # No wineboot in the session, unless QUILLRUN_WINE_BOOT is set: it prepares
  # a desktop session (services, run keys, the volatile environment) that a
  # console program under test does not use, and costs half of each case's
  # CPU time. Processes started at once in a session without it wait for it
  # for ever, so the sandbox sets it for a case that starts several at once.
  [ "${QUILLRUN_WINE_BOOT:-}" ] || WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=d"
  scratch=/run/quillrun-wine
  if in_private_user_namespace; then
    # Runs started at once in one sandbox share the session the first sets up.
    (
      flock 9
      if [ ! -d "$scratch" ]; then
        mkdir -p "$scratch/upper" "$scratch/work" "$scratch/tmp"
        mount -t overlay overlay \
          -o "lowerdir=$WINEPREFIX,upperdir=$scratch/upper,workdir=$scratch/work" "$WINEPREFIX"
        TMPDIR="$scratch/tmp" "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
      fi
    ) 9>/run/quillrun-wine.lock
    export TMPDIR="$scratch/tmp"
  fi
  if [ "${USERNAME+set}" ]; then
    export QUILLRUN_CALLER_USERNAME="set:$USERNAME"
  else
    export QUILLRUN_CALLER_USERNAME=unset
  fi
  ;;
*)
  prepare
  # A Wine server writes the registry back into its prefix as it exits, and
  # the end-to-end cases lay their overlays over the shared prefix meanwhile:
  # a lower layer that changes under an overlay gives undefined results, and
  # a case's Wine may then fail to start. So every other run, the unit tests'
  # among them, gets private namespaces and an overlay of its own as well.
  if ! in_private_user_namespace; then
    exec unshare --user --map-root-user --mount /bin/sh -c \
      'mount -t tmpfs tmpfs /run && exec /bin/sh "$0" --private-prefix "$@"' "$0" "$@"
  fi
  ;;
esac

exec "$wine" "$@"
