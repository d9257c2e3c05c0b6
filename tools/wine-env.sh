# Sourced by the test and demo scripts: a private Wine prefix, an Xvfb display, one persistent
# wineserver and a private CUPS server for the run.
# Usage: trap wine_env_stop EXIT; wine_env_start BUILD_DIR; ...
SM_ROOT=${SM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

# Queues of the private CUPS server, all raw (the bytes stay as sent). Wine's spooler names each
# printer's port "CUPS:<queue>", so only a name with "USB" in it is a USB printer to the program.
# Jobs are held, so no backend runs and each job's data stays in the spool folder.
SM_CUPS_QUEUES=(SM_USB SM_Network SM_USB_Rejecting)
SM_CUPS_REJECTING=SM_USB_Rejecting

# Starts cupsd with its configuration, spool, logs and socket under BUILD_DIR/cups (no TCP port,
# nothing outside that folder) and creates the queues; exports CUPS_SERVER, which libcups in each
# Wine process reads, and SM_CUPS_SPOOL for the tests.
cups_env_start() {
  [ -n "$1" ] || return 1
  # libcups takes CUPS_SERVER for a socket only when it is an absolute path.
  local dir; dir=$(realpath -m "$1/cups")
  # A server left by a run that was killed: ended by its recorded id, only if it is ours.
  if [ -f "$dir/cupsd.pid" ]; then
    local old; old=$(cat "$dir/cupsd.pid")
    if [ -r "/proc/$old/cmdline" ] && tr '\0' ' ' <"/proc/$old/cmdline" | grep -qF "$dir/etc/cupsd.conf"; then
      kill "$old" 2>/dev/null || true
      # It removes its socket on the way out: let it finish before the new one is made.
      local i
      for i in $(seq 50); do [ -e "/proc/$old" ] || break; sleep 0.1; done
    fi
  fi
  rm -rf "$dir"
  mkdir -p "$dir"/{etc,spool/tmp,log,cache,state}
  local sock=$dir/cups.sock
  if ((${#sock} > 100)); then   # a socket path must fit sun_path (108 bytes)
    echo "cups: socket path too long: $sock" >&2
    return 1
  fi
  cat >"$dir/etc/cups-files.conf" <<CONF
ServerRoot $dir/etc
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
SystemGroup root
CONF
  # DirtyCleanInterval 0: a job's control file is written at once, not up to 30 s later.
  cat >"$dir/etc/cupsd.conf" <<CONF
Listen $sock
Browsing No
WebInterface No
LogLevel info
DirtyCleanInterval 0
PreserveJobFiles Yes
PreserveJobHistory Yes
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
  SM_CUPSD_PID=$!
  echo "$SM_CUPSD_PID" >"$dir/cupsd.pid"
  export CUPS_SERVER=$sock
  # The socket appears once the server listens (lpstat -r exits with 0 either way).
  local i
  for i in $(seq 100); do
    [ -S "$sock" ] && break
    kill -0 "$SM_CUPSD_PID" 2>/dev/null || break
    sleep 0.1
  done
  # From here on a failure also ends the server, for callers that set their trap later.
  if [ ! -S "$sock" ]; then
    echo "cups: the private server did not start" >&2
    cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null
    cups_env_stop
    return 1
  fi
  local q out
  for q in "${SM_CUPS_QUEUES[@]}"; do
    # lpadmin warns that raw queues are deprecated; they still keep the bytes as sent.
    out=$(lpadmin -p "$q" -E -v file:///dev/null -m raw -o job-hold-until-default=indefinite 2>&1) ||
      { echo "cups: lpadmin $q: $out" >&2; cups_env_stop; return 1; }
  done
  cupsreject "$SM_CUPS_REJECTING" || { cups_env_stop; return 1; }
  export SM_CUPS_SPOOL=$dir/spool
}

cups_env_stop() {
  if [ -n "${SM_CUPSD_PID:-}" ]; then
    kill "$SM_CUPSD_PID" 2>/dev/null || true
    wait "$SM_CUPSD_PID" 2>/dev/null || true
    SM_CUPSD_PID=
  fi
}

_wine_reg() {   # imports a REGEDIT4 file into the prefix
  wine regedit /S "$(winepath -w "$1" 2>/dev/null)" </dev/null >/dev/null 2>&1
}

wine_env_start() {
  local build_dir=$1
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=;winspool.drv=n,b"
  export WINEARCH=win64

  # Wine's spooler copies CUPS's queue list when it first loads in a server session: the queues
  # must exist before the first Wine process.
  cups_env_start "$build_dir"

  # Display: our own Xvfb, numbered by the server itself so that nothing collides.
  local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  SM_XVFB_PID=$!
  local num; read -r num <"$fifo"; rm -f "$fifo"
  export DISPLAY=":$num"

  wineserver -k >/dev/null 2>&1 || true
  if [ "${SM_REUSE_PREFIX:-0}" = 1 ] && [ -f "$WINEPREFIX/.sm-ready" ]; then
    wineserver -p
    wineboot </dev/null >/dev/null 2>&1
    return 0
  fi
  rm -rf "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w

  # Fonts: real Tahoma and Marlett from fonts-wine, metric-compatible faces, CJK linking.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  for f in /usr/share/fonts/truetype/wine/marlett.ttf /usr/share/fonts/truetype/wine/tahoma*.ttf \
           /usr/share/fonts/truetype/wqy/wqy-microhei.ttc; do
    [ -e "$f" ] && ln -sf "$f" "$fonts/"
  done
  # REGEDIT4 takes hex(7) data as ANSI bytes (UTF-16 bytes there become a list of single letters).
  # Tahoma is linked too, for Chinese window captions.
  local reg; reg=$(mktemp --suffix=.reg)
  cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Arial"="Liberation Sans"
"Courier New"="Liberation Mono"
"Times New Roman"="Liberation Serif"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Liberation Sans"=hex(7):77,71,79,2d,6d,69,63,72,6f,68,65,69,2e,74,74,63,2c,57,65,6e,51,75,61,6e,59,69,20,4d,69,63,72,6f,20,48,65,69,00,00
"Liberation Mono"=hex(7):77,71,79,2d,6d,69,63,72,6f,68,65,69,2e,74,74,63,2c,57,65,6e,51,75,61,6e,59,69,20,4d,69,63,72,6f,20,48,65,69,00,00
"Liberation Serif"=hex(7):77,71,79,2d,6d,69,63,72,6f,68,65,69,2e,74,74,63,2c,57,65,6e,51,75,61,6e,59,69,20,4d,69,63,72,6f,20,48,65,69,00,00
"Tahoma"=hex(7):77,71,79,2d,6d,69,63,72,6f,68,65,69,2e,74,74,63,2c,57,65,6e,51,75,61,6e,59,69,20,4d,69,63,72,6f,20,48,65,69,00,00
REG
  _wine_reg "$reg"
  rm -f "$reg"
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w

  touch "$WINEPREFIX/.sm-ready"
  # One persistent server, warmed up so that its helper processes do not hold our pipes.
  wineserver -p
  wineboot </dev/null >/dev/null 2>&1
}

# Safe to call more than once, and after a start that failed part of the way.
wine_env_stop() {
  [ -n "${WINEPREFIX:-}" ] && { wineserver -k >/dev/null 2>&1 || true; }
  [ -n "${SM_XVFB_PID:-}" ] && kill "$SM_XVFB_PID" 2>/dev/null || true
  SM_XVFB_PID=
  cups_env_stop
  wait 2>/dev/null || true
}
