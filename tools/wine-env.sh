# Sourced by the test and demo scripts: a private Wine prefix, an Xvfb display and one
# persistent wineserver for the run.  Usage: wine_env_start BUILD_DIR; ...; wine_env_stop
SM_ROOT=${SM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

_wine_reg() {   # imports a REGEDIT4 file into the prefix
  wine regedit /S "$(winepath -w "$1" 2>/dev/null)" </dev/null >/dev/null 2>&1
}

wine_env_start() {
  local build_dir=$1
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=;winspool.drv=n,b"
  export WINEARCH=win64

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

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${SM_XVFB_PID:-}" ] && kill "$SM_XVFB_PID" 2>/dev/null || true
  wait 2>/dev/null || true
}
