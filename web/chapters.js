// The demo's structure on the timeline: its scenes as chapters and the
// moment of the white flash, both read from the scene shader's own text (its
// constants SCENE_n_START, and the one the closing fade's flash is measured
// from), so that the page never holds a second copy of the time line. The
// chapters are marks on the bar; hovering or touching the bar names the
// moment's scene ("Scene 3 · 1:01.9"); Ctrl+← and Ctrl+→ go to the start of
// the previous and the next scene.
import { player, clockText } from './player_state.js';

// Within this much of a scene's start, "previous" goes to the scene before.
const PREVIOUS_SLACK_MS = 1500;

// { scenes: [{ number, startMs }] (scene 1 at 0, in order), flashMs }.
export const timeLine = { scenes: [], flashMs: null };

// Reads the time line from the scene shader's text.
export function readTimeLine(shaderText) {
  const starts = new Map([[1, 0]]);
  const names = new Map();
  for (const [, number, seconds] of shaderText.matchAll(/const\s+float\s+SCENE_(\d+)_START\s*=\s*([\d.]+)\s*;/g)) {
    starts.set(Number(number), Math.round(Number(seconds) * 1000));
    names.set(`SCENE_${number}_START`, Math.round(Number(seconds) * 1000));
  }
  timeLine.scenes = [...starts].sort((a, b) => a[0] - b[0]).map(([number, startMs]) => ({ number, startMs }));
  // The flash: the fade divisor falls to nothing at |START - t| == 0.
  const flash = /abs\(\s*(SCENE_\d+_START)\s*-\s*t\s*\)/.exec(shaderText);
  timeLine.flashMs = flash && names.has(flash[1]) ? names.get(flash[1]) : null;
  return timeLine;
}

// The scene of the moment `ms`.
export function sceneAt(ms) {
  let scene = timeLine.scenes[0];
  for (const s of timeLine.scenes) if (s.startMs <= ms) scene = s;
  return scene;
}

export function nextSceneStart(ms) {
  const next = timeLine.scenes.find((s) => s.startMs > ms);
  return next ? next.startMs : null;
}

export function previousSceneStart(ms) {
  const earlier = timeLine.scenes.filter((s) => s.startMs < ms - PREVIOUS_SLACK_MS);
  return earlier.length ? earlier.at(-1).startMs : 0;
}

// "1:01.9" for 61,900 ms.
export function preciseText(ms) {
  return `${clockText(ms)}.${Math.floor(ms / 100) % 10}`;
}

// "Scene 3 · 1:01.9".
export function momentName(ms) {
  return `Scene ${sceneAt(ms).number} · ${preciseText(ms)}`;
}

// The flash warning of the start view, with the flash's moment.
export function showFlashWarning() {
  if (timeLine.flashMs === null) return;
  document.getElementById('flash-warning').textContent = `Warning: at ${clockText(timeLine.flashMs)} `
    + `(${timeLine.flashMs / 1000} s) the whole screen flashes white.`;
}

// The marks on the timeline and the scene's name under the pointer.
export function setUpChapterMarks() {
  const marks = document.getElementById('chapter-marks');
  const label = document.getElementById('chapter-label');
  const timeline = document.getElementById('timeline');
  const place = (ms) => `calc(var(--thumb) / 2 + (100% - var(--thumb)) * ${(ms / player.endMs).toFixed(5)})`;
  for (const { number, startMs } of timeLine.scenes.slice(1)) {
    const mark = document.createElement('span');
    mark.className = 'chapter-mark';
    mark.dataset.ms = String(startMs);
    mark.dataset.scene = String(number);
    mark.style.left = place(startMs);
    marks.append(mark);
  }
  if (timeLine.flashMs !== null) {
    const mark = document.createElement('span');
    mark.className = 'flash-mark';
    mark.dataset.ms = String(timeLine.flashMs);
    mark.style.left = place(timeLine.flashMs);
    marks.append(mark);
  }
  // The moment under the pointer on the bar (its thumb's centre runs from
  // half a thumb inside one end to as far inside the other).
  const show = (event) => {
    const rect = timeline.getBoundingClientRect();
    const thumb = parseFloat(getComputedStyle(timeline).fontSize) * 0.9;
    const share = Math.min(1, Math.max(0, (event.clientX - rect.left - thumb / 2) / (rect.width - thumb)));
    const ms = Math.round(share * player.endMs);
    label.textContent = momentName(ms);
    label.style.left = `${event.clientX - rect.left}px`;
    label.hidden = false;
  };
  const hide = () => { label.hidden = true; };
  timeline.addEventListener('pointermove', show);
  timeline.addEventListener('pointerdown', show);
  timeline.addEventListener('pointerleave', hide);
  timeline.addEventListener('pointerup', (event) => {
    if (event.pointerType !== 'mouse') setTimeout(hide, 1500);
  });
}
