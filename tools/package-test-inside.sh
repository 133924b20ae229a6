#!/bin/sh
# The halves of tools/package-test.sh that run inside tools/namespaces.py's
# private namespaces: their own loopback, host name, /tmp, /run and /etc
# overlay, so that the SMTP server and Wine touch nothing of the machine.
#
#   package-test-inside.sh deb PROGRAM
#       one delivery by PROGRAM (the packaged /usr/bin/quillrun)
#   package-test-inside.sh windows SETUP.exe WINEPREFIX VERSION
#       the installer, silently, in a throwaway layer over WINEPREFIX:
#       install, check, one delivery, uninstall, check that nothing is left;
#       then a quillrun.ini kept by both the installer and the uninstaller
set -eu
here=$(cd "$(dirname "$0")" && pwd)
mode=$1
shift

fail() {
  printf "package-test: %s\n" "$*" >&2
  exit 1
}

mkdir /run/pkg

# Starts the SMTP server on 127.0.0.1:25; it takes one message into
# /run/pkg/received and stops.
start_server() {
  /usr/bin/python3 "$here/real_server.py" /run/pkg/received &
  server=$!
  for _ in $(seq 50); do
    [ -e /run/pkg/received.ready ] && return 0
    sleep 0.1
  done
  fail "the SMTP server did not start"
}

# Waits for the server and checks what it received against the grep
# patterns given.
check_received() {
  wait "$server" || fail "the SMTP server received no message"
  for pattern in "$@"; do
    grep -q -- "$pattern" /run/pkg/received || {
      cat /run/pkg/received >&2
      fail "the message received lacks \"$pattern\""
    }
  done
}

deliver_with_deb() {
  program=$1
  mkdir /tmp/wd
  printf 'g_smtp_port 25\n' >/etc/tidewharf.ini
  start_server
  cd /tmp/wd
  status=0
  printf 'Subject: package test\n\nSent by the packaged quillrun.\n' |
    USERNAME=packager "$program" -i admin@example.org || status=$?
  [ "$status" -eq 0 ] || fail "the packaged quillrun exited with status $status"
  check_received "^MAIL FROM: packager@$(hostname)$" "^RCPT TO: admin@example.org$" \
    "Subject: package test" "Sent by the packaged quillrun."
  grep -qF "packager $program -i admin@example.org" quillrun.log ||
    fail "no record in quillrun.log"
  echo "package-test: the packaged quillrun delivered a message"
}

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\quillrun'
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'

# "wine reg query ARGS", CRs removed. Under load a Wine "reg" now and then
# printed nothing for a key that is there: an empty answer is asked again.
reg_query() {
  for _ in 1 2 3; do
    answer=$(wine reg query "$@" 2>/dev/null | tr -d '\r') || true
    [ -z "$answer" ] || break
  done
  printf '%s\n' "$answer"
}

system_path() {
  reg_query "$environment_key" /v PATH | sed -n 's/^ *PATH *REG_[A-Z_]* *//p'
}

# The value of NAME in the uninstall entry, as read once by read_uninstall_entry.
uninstall_value() {
  printf '%s\n' "$uninstall_entry" | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

read_uninstall_entry() {
  uninstall_entry=$(reg_query "$uninstall_key")
  case "$uninstall_entry" in
  *DisplayName*) ;;
  *) fail "the uninstall entry could not be read: $uninstall_entry" ;;
  esac
}

run_installer() {
  setup=$1
  version=$3
  # A throwaway layer over the prepared prefix: nothing reaches it.
  mkdir -p /run/pkg/upper /run/pkg/work /run/pkg/prefix
  mount -t overlay overlay -o "lowerdir=$2,upperdir=/run/pkg/upper,workdir=/run/pkg/work" /run/pkg/prefix
  export WINEPREFIX=/run/pkg/prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
  hostname winhost
  drive_c=$WINEPREFIX/drive_c
  folder="$drive_c/Program Files/quillrun"
  [ ! -e "$folder" ] || fail "the prefix has a quillrun folder before the installation"
  path_before=$(system_path)

  wine "$setup" /S
  wineserver -w
  expected="LICENSE.txt README.txt mailq.exe newaliases.exe quillrun.8.html quillrun.8.txt quillrun.exe quillrun.ini.sample tidewharf.ini.sample uninstall.exe"
  found=$(cd "$folder" && ls | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
  [ "$found" = "$expected" ] || fail "installed files: \"$found\", expected \"$expected\""
  [ ! -e "$drive_c/etc" ] || fail "the installer made C:\\etc"
  read_uninstall_entry
  [ "$(uninstall_value DisplayName)" = quillrun ] || fail "DisplayName: $(uninstall_value DisplayName)"
  [ "$(uninstall_value DisplayVersion)" = "$version" ] ||
    fail "DisplayVersion: $(uninstall_value DisplayVersion), expected $version"
  [ "$(uninstall_value Publisher)" = "The quillrun authors" ] || fail "Publisher: $(uninstall_value Publisher)"
  [ "$(uninstall_value InstallLocation)" = 'C:\Program Files\quillrun' ] ||
    fail "InstallLocation: $(uninstall_value InstallLocation)"
  quiet=$(uninstall_value QuietUninstallString)
  [ "$quiet" = '"C:\Program Files\quillrun\uninstall.exe" /S' ] || fail "QuietUninstallString: $quiet"
  [ "$(uninstall_value NoModify)" = 0x1 ] && [ "$(uninstall_value NoRepair)" = 0x1 ] ||
    fail "NoModify or NoRepair not set"
  [ "$(system_path)" = "$path_before;C:\\Program Files\\quillrun" ] ||
    fail "system PATH after the installation: $(system_path)"
  echo "package-test: the installer put in place the files, the uninstall entry and the PATH entry"

  # One delivery by the installed program, run by its PATH name from a
  # working folder on drive C:, with the domain from \etc\tidewharf.ini.
  # Windows reads that file on the current drive; Wine takes a path that
  # begins with "/" as a Unix path first, so the file goes to /etc (an
  # overlay) here.
  mkdir -p "$drive_c/work"
  printf 'g_smtp_port 25\r\ng_quillrun_domain example.org\r\n' >/etc/tidewharf.ini
  start_server
  cd "$drive_c/work"
  status=0
  printf 'Subject: installer test\r\n\r\nSent by the installed quillrun.exe.\r\n' |
    wine cmd /c quillrun.exe -host 127.0.0.1 -i admin@example.org >/run/pkg/out || status=$?
  [ "$status" -eq 0 ] || { cat /run/pkg/out >&2; fail "the installed quillrun.exe exited with status $status"; }
  check_received "^MAIL FROM: [^@]*@example.org$" "^RCPT TO: admin@example.org$" \
    "Subject: installer test" "Sent by the installed quillrun.exe."
  [ -s quillrun.log ] || fail "no quillrun.log in C:\\work"
  queue=$(wine "C:\\Program Files\\quillrun\\mailq.exe" | tr -d '\r')
  [ "$queue" = "Use: queuelet s" ] || fail "mailq.exe said \"$queue\""
  wineserver -w
  echo "package-test: the installed quillrun.exe delivered a message; mailq.exe answers"

  # The uninstaller copies itself away and returns at once: wait for Wine.
  cd /
  wine "C:\\Program Files\\quillrun\\uninstall.exe" /S
  wineserver -w
  [ ! -e "$folder" ] || fail "left after uninstalling: $(ls -A "$folder" | tr '\n' ' ')"
  ! wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry is left"
  [ "$(system_path)" = "$path_before" ] || fail "system PATH after uninstalling: $(system_path)"
  [ ! -e "$drive_c/etc" ] || fail "the uninstaller left C:\\etc"
  echo "package-test: the uninstaller left nothing behind"

  # A second round, into a folder that holds the administrator's
  # quillrun.ini already. A system PATH longer than the installer's strings
  # (1024 characters) must come through untouched, not cut; the quillrun.ini
  # must come through both the installer and the uninstaller as it was.
  long_path="$path_before$(printf ';C:\\Tools\\folder%04d' $(seq 60))"
  wine reg add "$environment_key" /v PATH /t REG_EXPAND_SZ /d "$long_path" /f >/dev/null
  wineserver -w
  mkdir -p "$folder"
  printf 'host smtp.example.net\r\nport 587\r\n' >"$folder/quillrun.ini"
  cp "$folder/quillrun.ini" /run/pkg/quillrun.ini
  wine "$setup" /S
  wineserver -w
  [ -f "$folder/quillrun.exe" ] || fail "with a long PATH the installer installed nothing"
  [ "$(system_path)" = "$long_path" ] || fail "the installer changed a PATH too long for it"
  cmp -s "$folder/quillrun.ini" /run/pkg/quillrun.ini || fail "the installer changed quillrun.ini"
  [ -f "$folder/quillrun.ini.sample" ] || fail "the installer did not install quillrun.ini.sample"
  wine "C:\\Program Files\\quillrun\\uninstall.exe" /S
  wineserver -w
  [ "$(system_path)" = "$long_path" ] || fail "with a long PATH the uninstaller changed the PATH"
  [ "$(ls -A "$folder" 2>/dev/null | tr '\n' ' ')" = "quillrun.ini " ] ||
    fail "after uninstalling, the folder should hold quillrun.ini alone: $(ls -A "$folder" 2>/dev/null | tr '\n' ' ')"
  cmp -s "$folder/quillrun.ini" /run/pkg/quillrun.ini || fail "the uninstaller changed quillrun.ini"
  wineserver -k 2>/dev/null || true
  echo "package-test: a PATH too long for the installer stays as it was; so does a quillrun.ini, through installer and uninstaller"
}

case "$mode" in
deb) deliver_with_deb "$1" ;;
windows) run_installer "$1" "$2" "$3" ;;
*) fail "unknown mode $mode" ;;
esac
