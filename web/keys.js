// The player's keys, the picture's clicks and taps, and the media keys.
// Keys as media players have them: Space or K pause and resume, ← → or J L
// 10 s back and forward, Ctrl+← → the previous and next scene, Home and End
// the start and the end, 0–9 jump to 0–90 %, ↑ ↓ the volume by 5 %, M mute,
// F full screen, I the resolution line, Escape the end. Where the keyboard's
// focus is on a control, the control keeps the keys it uses itself (a
// button only where the keyboard took it there: after a click on it Space
// and K still pause). Before a run, a click, a tap or a key (but for
// navigation keys) starts one; the start view's buttons start it from the
// beginning, or where the run that the viewer ended stood. On the
// picture, a mouse click pauses and resumes; a tap shows or hides the
// controls, a double tap on the left or right third goes 10 s back or
// forward. Hardware media keys and the lock screen reach the player through
// the Media Session API.
import { player, Phase, listen, changed, inRun, momentMs } from './player_state.js';
import { startRun, endRun, togglePause, pause, resume, seekTo, seekBy } from './run.js';
import { poke, toggleShown, toggleMute, toggleFull, flash, setVolume, focusControls } from './controls.js';
import { nextSceneStart, previousSceneStart, momentName } from './chapters.js';
import { escapeLeavesFullScreen } from './screen_mode.js';

const SEEK_MS = 10000;
const VOLUME_STEP = 0.05;
const DOUBLE_TAP_MS = 500;

// Keys that never start a run.
const NOT_STARTING = ['Shift', 'Control', 'Alt', 'Meta', 'AltGraph', 'CapsLock', 'Tab', 'Escape',
  'ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown', 'Home', 'End', 'PageUp', 'PageDown'];
const SLIDER_KEYS = ['ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown', 'Home', 'End', 'PageUp', 'PageDown'];

// Whether the focused control uses `key` itself.
function controlTakes(target, key) {
  if (!(target instanceof Element)) return false;
  if (target.matches('button') && (key === ' ' || key === 'Enter')) {
    return !target.closest('#controls') || target.matches(':focus-visible');
  }
  if (target.matches('select')) return key !== 'Escape' && key !== 'Tab';
  if (target.id === 'volume') return SLIDER_KEYS.includes(key);
  return false;
}

function seekFlashing(deltaMs) {
  seekBy(deltaMs);
  flash(`${deltaMs < 0 ? '−' : '+'}${Math.abs(deltaMs) / 1000} s`);
}

function sceneKey(key) {
  const now = momentMs();
  const to = key === 'ArrowLeft' ? previousSceneStart(now) : nextSceneStart(now);
  if (to === null) return;
  seekTo(to);
  flash(momentName(to), 1500);
}

function volumeKey(step) {
  setVolume(Math.round((player.volume + step) * 100) / 100, false);
  flash(`Volume ${Math.round(player.volume * 100)} %`);
}

function playerKey(event) {
  const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
  if (event.ctrlKey) {
    if (key !== 'ArrowLeft' && key !== 'ArrowRight') return false;
    sceneKey(key);
  } else if (key === ' ' || key === 'k') togglePause();
  else if (key === 'ArrowLeft' || key === 'j') seekFlashing(-SEEK_MS);
  else if (key === 'ArrowRight' || key === 'l') seekFlashing(SEEK_MS);
  else if (key === 'Home') seekTo(0);
  else if (key === 'End') seekTo(player.endMs);
  else if (key === 'ArrowUp') volumeKey(VOLUME_STEP);
  else if (key === 'ArrowDown') volumeKey(-VOLUME_STEP);
  else if (/^[0-9]$/.test(key)) seekTo(Math.floor(player.endMs * Number(key) / 10));
  else if (key === 'm') toggleMute();
  else if (key === 'f') toggleFull();
  else if (key === 'i') {
    player.infoShown = !player.infoShown;
    changed('info');
  } else return false;
  return true;
}

const SCROLLING = [' ', 'ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown', 'Home', 'End'];

function onKey(event) {
  // Of the modified keys, only Ctrl+← → are the player's.
  const sceneStep = event.ctrlKey && !event.altKey && !event.metaKey && ['ArrowLeft', 'ArrowRight'].includes(event.key);
  if ((event.ctrlKey || event.altKey || event.metaKey) && !(sceneStep && inRun())) return;
  if (controlTakes(event.target, event.key)) return;
  if (inRun() && SCROLLING.includes(event.key)) event.preventDefault();
  if (event.key === 'Tab') poke();
  if (event.repeat) return;
  if (event.key === 'Escape') {
    if (!escapeLeavesFullScreen()) endRun(true);
  } else if (inRun()) {
    if (playerKey(event)) poke();
  } else if (player.phase === Phase.READY && !NOT_STARTING.includes(event.key)) {
    event.preventDefault();
    startedByKey();
  }
}

// A run started from the keyboard: the next Tab goes to the controls.
async function startedByKey(atMs) {
  await startRun(atMs);
  if (inRun()) focusControls();
}

// A click, a tap or a key on the start view (`event.target` says where);
// `fromTouch`: a tap.
function startFromView(event, fromTouch) {
  const button = event.target instanceof Element ? event.target.closest('button') : null;
  if (button && button.id === 'unmute-button') return;
  const atMs = button && button.id === 'resume-button' && player.resumeMs !== null ? player.resumeMs : undefined;
  // A key on a focused button comes as a click without a pointer.
  if (!fromTouch && event.detail === 0 && button) startedByKey(atMs);
  else startRun(atMs, fromTouch);
}

// Clicks and taps on the picture (and on the start view before a run).
function setUpPointer() {
  const stage = document.getElementById('stage');
  const startView = document.getElementById('start-view');
  let lastTap = null;
  // A touch starts a run at its end (a gesture the sound may start from;
  // the click that may follow finds the run started).
  startView.addEventListener('pointerup', (event) => {
    if (event.pointerType !== 'mouse') startFromView(event, true);
  });
  startView.addEventListener('click', (event) => startFromView(event, false));
  stage.addEventListener('pointerup', (event) => {
    if (!inRun()) return;
    if (event.pointerType === 'mouse') {
      if (event.button === 0) togglePause();
      poke();
      return;
    }
    const third = event.clientX < innerWidth / 3 ? -1 : event.clientX > innerWidth * 2 / 3 ? 1 : 0;
    // The time the touch ended, not the time the page got to it (a slow
    // frame may lie between).
    const now = event.timeStamp;
    if (lastTap && now - lastTap.at < DOUBLE_TAP_MS && third !== 0 && third === lastTap.third) {
      lastTap = null;
      seekFlashing(third * SEEK_MS);
      poke();
      return;
    }
    lastTap = { at: now, third };
    toggleShown();
  });
}

// Hardware media keys, the lock screen and the browser's media controls.
function setUpMediaSession() {
  const session = navigator.mediaSession;
  if (!session || typeof MediaMetadata !== 'function') return;
  session.metadata = new MediaMetadata({ title: document.title, artist: 'real-time synthesizer and ray-marched scenes' });
  const handlers = {
    play: () => resume(),
    pause: () => pause(),
    stop: () => endRun(true),
    seekbackward: (details) => seekBy(-(details.seekOffset || SEEK_MS / 1000) * 1000),
    seekforward: (details) => seekBy((details.seekOffset || SEEK_MS / 1000) * 1000),
    seekto: (details) => seekTo(Math.round(details.seekTime * 1000)),
  };
  for (const [action, handler] of Object.entries(handlers)) {
    try {
      session.setActionHandler(action, handler);
    } catch {
      // An action this browser does not know.
    }
  }
  listen((what) => {
    if (what !== 'phase') return;
    const phase = player.phase;
    session.playbackState = phase === Phase.RUNNING || phase === Phase.WAITING ? 'playing'
      : phase === Phase.PAUSED ? 'paused' : 'none';
    if (inRun() && session.setPositionState) {
      session.setPositionState({
        duration: player.endMs / 1000, playbackRate: 1,
        position: Math.min(momentMs(), player.endMs) / 1000,
      });
    }
  });
}

export function setUpInput() {
  document.addEventListener('keydown', onKey);
  setUpPointer();
  setUpMediaSession();
}
