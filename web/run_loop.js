// The picture of a run: its clock, the frame loop and the scale that frames
// are drawn at. The clock counts page time from a base moment (the run's
// start, a resume, a seek); each frame is drawn at the clock's moment, timed
// (timeFrame) and handed to the scale governor, which may ask for another
// scale; its program is built in the background and taken once ready. A
// held picture (paused, or waiting for the song) is one frame drawn at the
// held moment, with no loop running.
import { player, parts, changed, sizeText } from './player_state.js';

// Frame times are shown as the mean over this much of the latest frames.
const SHOWN_FRAMES_MS = 1000;

let frameRequest = 0;
let governor = null;
let pendingScale = -1;  // a scale the governor asked for, whose program is being built
let atEnd = () => {};

// The picture's time at page time `now`.
export function clockMs(run, now) {
  return run.clockBaseMs + Math.floor(now - run.clockStart);
}

// `player.frameRect` (in full-picture pixels) in the drawing buffer of scale
// `index`; null for the whole picture.
export function drawnRect(index) {
  const rect = player.frameRect;
  if (!rect) return null;
  const full = parts.scales.list[0];
  const { width, height } = parts.scales.list[index];
  const x = Math.floor(rect.x * width / full.width);
  const y = Math.floor(rect.y * height / full.height);
  return {
    x, y,
    width: Math.max(1, Math.ceil((rect.x + rect.width) * width / full.width) - x),
    height: Math.max(1, Math.ceil((rect.y + rect.height) * height / full.height) - y),
  };
}

// Sets up the run's scale and its governor.
export function setUpScales(run) {
  governor = parts.scales.governor(player.scale, player.adaptive);
  pendingScale = -1;
  run.scale = player.scale;
  const { width, height } = parts.scales.list[run.scale];
  parts.renderer.use(run.scale, width, height);
}

export function tearDownScales() {
  if (governor) governor.destroy();
  governor = null;
  pendingScale = -1;
}

// Runs the clock from `ms` now and draws frames until the end, where
// `onEnd()` is called.
export function startLoop(run, ms, onEnd) {
  cancelAnimationFrame(frameRequest);
  atEnd = onEnd;
  run.clockStart = performance.now();
  run.clockBaseMs = ms;
  run.heldMs = undefined;
  frameRequest = requestAnimationFrame(frame);
}

export function stopLoop() {
  cancelAnimationFrame(frameRequest);
  frameRequest = 0;
}

// Stops the clock and shows the moment `ms`.
export function holdAt(run, ms) {
  stopLoop();
  run.heldMs = ms;
  run.timeMs = ms;
  parts.renderer.draw(ms, drawnRect(run.scale));
  changed('frame');
}

// Another scale policy from now on (the resolution control): a fixed scale
// `index`, or the governor's choice from it (`adaptive`).
export function changeScalePolicy(run, index, adaptive) {
  if (governor) governor.destroy();
  governor = parts.scales.governor(index, adaptive);
  if (index === run.scale) return;
  pendingScale = index;
  parts.renderer.prepare(index);
  if (run.heldMs === undefined) return;
  // No frame loop to take it: the held picture is drawn again once built.
  parts.renderer.ready(index).then(() => {
    if (run.heldMs !== undefined && pendingScale === index && player.run === run) {
      switchScale(run);
      holdAt(run, run.heldMs);
    }
  }, () => switchScale(run));
}

function switchScale(run) {
  const wanted = pendingScale;
  pendingScale = -1;
  if (parts.renderer.usable(wanted)) {
    parts.renderer.use(wanted, parts.scales.list[wanted].width, parts.scales.list[wanted].height);
    run.scale = wanted;
    run.scaleChanges.push({ timeMs: run.timeMs, index: wanted, at: performance.now() });
    run.recentFrames = [];
    changed('scale');
  } else {
    // Keep the scale that works.
    console.warn(`the picture stays at ${sizeText(run.scale)}: ${sizeText(wanted)} could not be set up`);
    if (governor) governor.destroy();
    governor = parts.scales.governor(run.scale, false);
  }
}

// Draws the frame of the clock's moment and times it: the drawing is waited
// for, so that the time is the frame's and not the wait for the display's
// refresh. Returns { timeMs, ended, ms } (the frame's moment, the page time
// at its end and its length).
function timeFrame(run) {
  const started = performance.now();
  const timeMs = clockMs(run, started);
  parts.renderer.draw(timeMs, drawnRect(run.scale));
  parts.renderer.finish();
  const ended = performance.now();
  return { timeMs, ended, ms: ended - started };
}

function frame() {
  const run = player.run;
  if (pendingScale >= 0 && parts.renderer.settled(pendingScale)) switchScale(run);
  const { timeMs, ended, ms } = timeFrame(run);
  run.frames++;
  run.timeMs = timeMs;
  frameTimed(run, ended, ms);
  changed('frame');
  if (timeMs >= player.endMs) {
    frameRequest = 0;
    atEnd();
    return;
  }
  frameRequest = requestAnimationFrame(frame);
}

function frameTimed(run, now, ms) {
  const recent = run.recentFrames;
  recent.push({ end: now, ms });
  while (recent.length > 1 && recent[0].end < now - SHOWN_FRAMES_MS) recent.shift();
  run.frameMs = recent.reduce((sum, f) => sum + f.ms, 0) / recent.length;
  if (pendingScale < 0) {
    const wanted = governor.frameDone(now / 1000, ms / 1000);
    if (wanted !== run.scale) {
      pendingScale = wanted;
      parts.renderer.prepare(wanted);
    }
  }
  if (governor.takeSlowStartHint()) {
    run.hint = `The first frames took longer than ${governor.slowStartMs()} ms at ${sizeText(run.scale)}: `
      + 'with the resolution on auto the page draws fewer pixels where the graphics card needs it.';
    console.warn(run.hint);
  }
}
