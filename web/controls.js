// The player's controls over the bottom of the picture (below it on a phone
// held upright): play and pause, the timeline (elapsed and total time, the
// part of the song already rendered marked, click or drag to seek), mute and
// volume (remembered between visits), a link to the moment, the resolution,
// full screen and the end of the run. They show on mouse movement, a tap or
// a key and hide after IDLE_MS without input while the run plays (the
// cursor with them); paused or waiting, they stay. The time and the
// timeline follow the run's clock (the sound's), not the latest frame.
// A mouse click leaves no focus on a button, so that Space and K go on
// pausing; the keyboard's Tab still reaches every control.
import { player, parts, Phase, listen, changed, inRun, momentMs, clockText, sizeText } from './player_state.js';
import { togglePause, seekTo, endRun, momentLink } from './run.js';
import { changeScalePolicy } from './run_loop.js';
import { toggleFullScreen, isFullScreen, hasElementFullScreen } from './screen_mode.js';

export const IDLE_MS = 3000;
// How often the time is shown anew while the run plays.
const CLOCK_MS = 250;
const VOLUME_KEY = 'demo-volume';

const $ = (id) => document.getElementById(id);
const controls = $('controls');
const timeline = $('timeline');
const timeText = $('time-text');
const playButton = $('play-button');
const muteButton = $('mute-button');
const volumeSlider = $('volume');
const resolutionSelect = $('resolution-select');
const fullScreenButton = $('full-screen-button');
const leaveFullWindow = $('leave-full-window');
const seekFlash = $('seek-flash');

let idleTimer = 0;
let dragging = false;
let mouseOver = false;  // the mouse rests on the controls
let flashTimer = 0;
let clockTimer = 0;

// Shows the controls (during a run) and starts the time until they hide.
export function poke() {
  if (!inRun()) return;
  document.body.classList.remove('idle');
  clearTimeout(idleTimer);
  idleTimer = setTimeout(hideIfIdle, IDLE_MS);
}

function hideIfIdle() {
  // Not while the mouse or a key's focus is on them, nor while the run is held.
  if (player.phase !== Phase.RUNNING || dragging || mouseOver || controls.querySelector(':focus-visible')) {
    if (inRun()) idleTimer = setTimeout(hideIfIdle, IDLE_MS);
    return;
  }
  document.body.classList.add('idle');
}

// A tap shows hidden controls and hides shown ones.
export function toggleShown() {
  if (document.body.classList.contains('idle')) poke();
  else if (player.phase === Phase.RUNNING) {
    clearTimeout(idleTimer);
    document.body.classList.add('idle');
  }
}

// After a run started from the keyboard: the next Tab lands on the
// controls (the start view that held the focus is gone).
export function focusControls() {
  const focus = document.activeElement;
  if (focus && focus !== document.body && !$('start-view').contains(focus)) return;
  poke();
  controls.focus({ preventScroll: true });
}

export function controlsShown() {
  return inRun() && !document.body.classList.contains('idle');
}

// A short word over the picture ("+10 s", "Link copied").
export function flash(text, ms = 900) {
  seekFlash.textContent = text;
  seekFlash.hidden = false;
  clearTimeout(flashTimer);
  flashTimer = setTimeout(() => { seekFlash.hidden = true; }, ms);
}

// The volume (0 to 1) and mute; the output's gain is the volume squared, so
// that full volume is exactly 1.
export function setVolume(volume, muted) {
  player.volume = Math.min(1, Math.max(0, volume));
  player.muted = muted;
  parts.sound.setLevel(muted ? 0 : player.volume * player.volume);
  try {
    localStorage.setItem(VOLUME_KEY, JSON.stringify({ volume: player.volume, muted }));
  } catch {
    // A page that may not store anything starts at full volume next time.
  }
  changed('volume');
}

export function toggleMute() {
  setVolume(player.volume, !player.muted);
  flash(player.muted ? 'Muted' : `Volume ${Math.round(player.volume * 100)} %`);
}

function storedVolume() {
  try {
    const stored = JSON.parse(localStorage.getItem(VOLUME_KEY));
    if (stored && Number.isFinite(stored.volume)) return stored;
  } catch {
    // Nothing stored, or nothing readable: full volume.
  }
  return { volume: 1, muted: false };
}

export function toggleFull() {
  toggleFullScreen(player.run);
}

async function share() {
  const link = momentLink();
  try {
    if (navigator.share && matchMedia('(pointer: coarse)').matches) {
      await navigator.share({ title: document.title, url: link });
      return;
    }
    await navigator.clipboard.writeText(link);
    flash('Link to this moment copied', 1500);
  } catch {
    player.notice = `The link to this moment: ${link}`;
    player.noticeStays = true;
    changed('notice');
  }
}

function fillResolutions() {
  const auto = new Option('Auto', 'auto');
  resolutionSelect.append(auto);
  for (const scale of parts.scales.list) resolutionSelect.append(new Option(sizeText(scale.index), String(scale.index)));
  resolutionSelect.value = player.adaptive ? 'auto' : String(player.scale);
}

function resolutionChosen() {
  const adaptive = resolutionSelect.value === 'auto';
  const index = adaptive ? (player.run && inRun() ? player.run.scale : player.scale) : Number(resolutionSelect.value);
  player.adaptive = adaptive;
  player.scale = index;
  if (player.run && inRun()) changeScalePolicy(player.run, index, adaptive);
  const url = new URL(location.href);
  if (adaptive) url.searchParams.delete('scale');
  else url.searchParams.set('scale', parts.scales.list[index].name);
  history.replaceState(history.state, '', url.href);
  changed('scale');
}

// The time shown anew while the run plays (its clock moves between frames).
function followClock() {
  clearInterval(clockTimer);
  clockTimer = player.phase === Phase.RUNNING ? setInterval(showTime, CLOCK_MS) : 0;
}

function showTime() {
  const ms = dragging ? Number(timeline.value) : Math.min(momentMs(), player.endMs);
  const text = `${clockText(ms)} / ${clockText(player.endMs)}`;
  if (timeText.textContent !== text) timeText.textContent = text;
  if (!dragging) timeline.value = String(ms);
  timeline.setAttribute('aria-valuetext', `${clockText(ms)} of ${clockText(player.endMs)}`);
  timeline.style.setProperty('--played', `${(100 * ms / player.endMs).toFixed(2)}%`);
}

function showRendered() {
  const run = player.run;
  const frames = run && run.synth ? run.synth.frames : 0;
  const ms = Math.min(player.endMs, frames * 1000 / player.sampleRate);
  timeline.style.setProperty('--rendered', `${(100 * ms / player.endMs).toFixed(2)}%`);
}

function showPhase() {
  const running = inRun();
  controls.hidden = !running;
  document.body.classList.toggle('running', running || player.phase === Phase.STARTING);
  const paused = player.phase === Phase.PAUSED || player.phase === Phase.PAUSING;
  document.body.classList.toggle('paused', paused);
  playButton.setAttribute('aria-label', paused ? 'Play' : 'Pause');
  playButton.title = `${paused ? 'Play' : 'Pause'} (K)`;
  followClock();
  if (running) poke();
  else {
    clearTimeout(idleTimer);
    document.body.classList.remove('idle');
  }
}

function showVolume() {
  muteButton.setAttribute('aria-label', player.muted ? 'Unmute' : 'Mute');
  muteButton.title = `${player.muted ? 'Unmute' : 'Mute'} (M)`;
  document.body.classList.toggle('muted', player.muted || player.volume === 0);
  volumeSlider.value = String(Math.round(player.volume * 100));
  volumeSlider.setAttribute('aria-valuetext', player.muted ? 'muted' : `${volumeSlider.value} %`);
}

function showScreen() {
  const full = isFullScreen();
  const fullWindow = document.body.classList.contains('full-window');
  const label = full
    ? (fullWindow ? 'Leave full window' : 'Leave full screen')
    : (hasElementFullScreen() ? 'Full screen' : 'Full window');
  fullScreenButton.setAttribute('aria-label', label);
  fullScreenButton.title = `${label} (F)`;
  document.body.classList.toggle('full', full);
  leaveFullWindow.hidden = !fullWindow;
}

function showScale() {
  const auto = resolutionSelect.options[0];
  const run = player.run;
  auto.text = player.adaptive && run && inRun() ? `Auto (${sizeText(run.scale)})` : 'Auto';
  resolutionSelect.value = player.adaptive ? 'auto' : String(player.scale);
}

// Sets the controls up once the module's scales are known.
export function setUpControls() {
  fillResolutions();
  const stored = storedVolume();
  setVolume(stored.volume, stored.muted === true);
  timeline.max = String(player.endMs);
  showTime();
  listen((what) => {
    if (what === 'phase') {
      showPhase();
      showTime();
      showRendered();
      showScale();
    } else if (what === 'frame') showTime();
    else if (what === 'render') showRendered();
    else if (what === 'volume') showVolume();
    else if (what === 'screen') showScreen();
    else if (what === 'scale') showScale();
  });
  showVolume();
  showScreen();

  playButton.addEventListener('click', () => togglePause());
  muteButton.addEventListener('click', () => setVolume(player.volume, !player.muted));
  volumeSlider.addEventListener('input', () => setVolume(Number(volumeSlider.value) / 100, false));
  timeline.addEventListener('input', () => {
    dragging = true;
    showTime();
  });
  timeline.addEventListener('change', () => {
    dragging = false;
    seekTo(Number(timeline.value));
  });
  // The timeline's keys are the page's (10 s steps), not the slider's own.
  timeline.addEventListener('keydown', (event) => {
    if (['ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown', 'Home', 'End', 'PageUp', 'PageDown'].includes(event.key)) {
      event.preventDefault();
    }
  });
  $('share-button').addEventListener('click', share);
  resolutionSelect.addEventListener('change', resolutionChosen);
  // A click leaves the focus where it was, so that Space and K go on pausing
  // (a mouse's choice of resolution gives it back too).
  controls.addEventListener('mousedown', (event) => {
    if (event.target instanceof Element && event.target.closest('button')) event.preventDefault();
  });
  let pointerChose = false;
  resolutionSelect.addEventListener('pointerdown', () => { pointerChose = true; });
  resolutionSelect.addEventListener('keydown', () => { pointerChose = false; });
  resolutionSelect.addEventListener('change', () => {
    if (pointerChose) resolutionSelect.blur();
  });
  fullScreenButton.addEventListener('click', toggleFull);
  leaveFullWindow.addEventListener('click', toggleFull);
  $('end-button').addEventListener('click', () => endRun(true));
  for (const type of ['pointermove', 'pointerdown', 'focusin']) controls.addEventListener(type, poke);
  controls.addEventListener('pointerenter', (event) => { mouseOver = event.pointerType === 'mouse'; });
  controls.addEventListener('pointerleave', () => { mouseOver = false; });
  // Only a move of the mouse: browsers also send a move when what lies under
  // a still cursor changes (as the controls hiding).
  let last = '';
  document.addEventListener('mousemove', (event) => {
    const at = `${event.screenX},${event.screenY}`;
    if (at === last) return;
    last = at;
    poke();
  });
}
