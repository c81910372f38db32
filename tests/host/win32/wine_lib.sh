# Wine for the end-to-end runs of demo.exe: a prefix, a home and an ALSA
# sound device of their own in the run's temporary folder, so that nothing
# of the user's (~/.wine, ~/.asoundrc, menus, caches) is read or changed.
# Sourced after tests/host/e2e_lib.sh (E2E_TMP, its cleanup, now_ms).
#
# wine_env PACED_SINK PLAYED: exports the environment, and makes the default
# ALSA device play into the file PLAYED at a sound card's pace.
# make_prefix: makes the prefix (Wine's first start), or ends the run.

# Wine's own processes (wineserver, services, explorer, the demo) are ended
# through the prefix's wineserver before the folder goes.
wine_cleanup() {
  local waited=0
  if [ -d "${WINEPREFIX:-}" ]; then
    timeout 30 wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
  fi
  # paced_sink finishes the demo's last sound, then leaves the folder alone.
  while [ -e "${WINE_PLAYED:-}.part" ] && [ $waited -lt 100 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  e2e_cleanup
}
trap wine_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wine_env() {
  local paced_sink=$1 played=$2
  WINE_PLAYED=$played
  # llvmpipe keeps its compiled shaders where it would for this user.
  export MESA_SHADER_CACHE_DIR="${MESA_SHADER_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/mesa_shader_cache}"
  # Everything Wine and ALSA would write under the user's home goes to a
  # home of the run's own.
  export HOME="$E2E_TMP/home"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  export WINEPREFIX="$E2E_TMP/prefix"
  # Wine's server keeps its socket in a folder under TMPDIR (/tmp) that it
  # never removes: here it goes with the run's folder.
  export TMPDIR="$E2E_TMP/tmp"
  mkdir -p "$TMPDIR"
  export WINEDEBUG=-all
  # No Mono or Gecko installers, no menu entries.
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
  mkdir -p "$HOME"
  # The default ALSA device writes what it is given, unchanged, into a pipe
  # to paced_sink, which takes it at the pace of a sound card (44,100 frames
  # of 8 bytes a second) and leaves it in PLAYED when the demo has ended. The
  # null device alone has no clock: Wine would play into it about four times
  # faster than real time, and outrun the render thread on a busy machine.
  cat >"$HOME/.asoundrc" <<EOF
pcm.!default {
  type file
  slave.pcm "null"
  file "|'$paced_sink' 352800 '$played'"
  format "raw"
}
EOF
}

# The prefix, made by the first start, with sound through ALSA (not
# PulseAudio, should a server be about). Everything else is as Wine makes it
# for a user: windows are left to a window manager where one runs.
make_prefix() {
  cat >"$E2E_TMP/settings.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"="alsa"
EOF
  local start
  start=$(now_ms)
  if ! timeout 300 wine reg import "$E2E_TMP/settings.reg" >"$E2E_TMP/prefix.out" 2>&1; then
    echo "FAIL: the Wine prefix could not be made:"; cat "$E2E_TMP/prefix.out"; exit 1
  fi
  if ! compgen -G "$TMPDIR/wine-*" >/dev/null; then
    echo "FAIL: Wine's server made no folder in the run's TMPDIR: it would be left behind elsewhere"; exit 1
  fi
  echo "Wine prefix made in $(($(now_ms) - start)) ms ($(wine --version))"
}
