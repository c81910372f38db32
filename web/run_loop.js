// The picture of a run: its clock, the frame loop and the scale that frames
// are drawn at. The clock counts page time from a base moment (the run's
// start, a resume, a seek); each frame is drawn at the clock's moment, timed
// (drawAt) and handed to the scale governor, which may ask for another
// scale; its program is built in the background and taken once ready. A
// held picture (paused, or waiting for the song) is one frame drawn at the
// held moment, with no loop running.
//
// The page never waits for the drawing: one frame is in flight at a time,
// its time learned from later tasks (FrameTimer), and the next frame is
// asked for once it is done. Where a frame is expected to take longer than
// BAND_MS (a software renderer), it is drawn in bands of whole rows, each a
// draw of its own in a task of its own, so that no single draw runs long
// enough to stall the page's answers or trip a graphics driver's watchdog.
//
// A run's picture shows only that run's moments: until its first frame is
// drawn the canvas is hidden (the start view's still, or the last run's
// picture, is of another moment). A change of scale keeps the last picture
// until the first frame at the new scale is whole (see SceneRenderer).
import { player, parts, changed, sizeText } from './player_state.js';
import { FrameTimer } from './frame_timer.js';
import { frameDrawn } from './slow_device.js';

// Frame times are shown as the mean over this much of the latest frames.
const SHOWN_FRAMES_MS = 1000;
// The longest time one draw is expected to take.
const BAND_MS = 400;
// How often a draw in flight is looked at (milliseconds).
const POLL_MS = 2;

let frameRequest = 0;
let afterPaint = 0;  // the timeout that starts a banded frame's drawing
let timer = null;
let drawing = null;  // the frame in flight: { mark, timeout }
let perPixelMs = 0;  // the time per pixel of the latest frame (or the still)
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

// Sets up the run's scale and its governor: an automatic run starts at the
// scale that the start view's still predicts.
export function setUpScales(run) {
  const still = player.still;
  governor = player.adaptive && still
    ? parts.scales.governorAfterProbe(still.ms / 1000, still.width * still.height)
    : parts.scales.governor(player.scale, player.adaptive);
  pendingScale = -1;
  run.scale = governor.step();
  if (!timer) timer = new FrameTimer(parts.renderer.gl);
  run.timing = timer.kind;
  run.bands = 1;
  if (still) perPixelMs = still.ms / (still.width * still.height);
  const { width, height } = parts.scales.list[run.scale];
  parts.renderer.use(run.scale, width, height);
  document.body.classList.add('no-picture');
}

export function tearDownScales() {
  document.body.classList.remove('no-picture');
  if (governor) governor.destroy();
  governor = null;
  pendingScale = -1;
}

// Runs the clock from `ms` now and draws frames until the end, where
// `onEnd()` is called.
export function startLoop(run, ms, onEnd) {
  stopLoop();
  atEnd = onEnd;
  run.clockStart = performance.now();
  run.clockBaseMs = ms;
  run.heldMs = undefined;
  frameRequest = requestAnimationFrame(frame);
}

export function stopLoop() {
  cancelAnimationFrame(frameRequest);
  frameRequest = 0;
  clearTimeout(afterPaint);
  afterPaint = 0;
  if (drawing) {
    clearTimeout(drawing.timeout);
    timer.release(drawing.mark);
    drawing = null;
  }
}

// Stops the clock and shows the moment `ms`, drawn as the frames are (in
// bands where slow) and shown once drawn.
export function holdAt(run, ms) {
  stopLoop();
  run.heldMs = ms;
  drawAt(run, ms, () => changed('frame'));
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
    parts.renderer.use(wanted, parts.scales.list[wanted].width, parts.scales.list[wanted].height, true);
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

// The rows of `rect` in bands that are each expected to take about BAND_MS
// at the latest time per pixel; one band is the rect itself.
function bandsOf(rect) {
  const expected = perPixelMs * rect.width * rect.height;
  const count = Math.min(rect.height, Math.max(1, Math.ceil(expected / BAND_MS)));
  const rows = Math.ceil(rect.height / count);
  const bands = [];
  for (let y = rect.y; y < rect.y + rect.height; y += rows) {
    bands.push({ x: rect.x, y, width: rect.width, height: Math.min(rows, rect.y + rect.height - y) });
  }
  return bands;
}

// Draws the frame of the moment `timeMs` and times it without waiting for
// it; `done({ timeMs, ended, ms, pixels })` follows once it is shown (the
// frame's moment, the page time at its end, the drawing's time: the card's,
// summed over the bands, and the pixels drawn).
function drawAt(run, timeMs, done) {
  // The picture's moment is the frame's from its first draw on.
  run.timeMs = timeMs;
  const { width, height } = parts.scales.list[run.scale];
  const limit = drawnRect(run.scale);
  const bands = bandsOf(limit || { x: 0, y: 0, width, height });
  const banded = bands.length > 1;
  run.bands = bands.length;
  const frame = { mark: null, timeout: 0 };
  let next = 0;
  let ms = 0;
  const drawBand = () => {
    frame.mark = timer.begin();
    // Offscreen, whole or in bands: the renderer keeps the picture shown last.
    parts.renderer.draw(timeMs, banded ? bands[next] : limit, true);
    timer.end(frame.mark);
    next++;
    frame.timeout = setTimeout(poll, POLL_MS);
  };
  const poll = () => {
    if (drawing !== frame) return;
    const bandMs = timer.poll(frame.mark);
    if (bandMs === undefined) {
      frame.timeout = setTimeout(poll, POLL_MS);
      return;
    }
    ms += bandMs;
    if (next < bands.length) {
      drawBand();
      return;
    }
    parts.renderer.showOffscreen();
    drawing = null;
    document.body.classList.remove('no-picture');
    const pixels = bands.reduce((sum, band) => sum + band.width * band.height, 0);
    if (ms > 0) perPixelMs = ms / pixels;
    done({ timeMs, ended: performance.now(), ms, pixels });
  };
  drawing = frame;
  drawBand();
}

function frame() {
  frameRequest = 0;
  if (player.run.bands > 1) {
    // The frame shown last (blitted from the bands) is taken from the canvas
    // when this animation frame is painted, which waits for whatever the card
    // has been given by then: the next frame's first band is given to it
    // once the paint is done, so that the paint does not wait a band long.
    afterPaint = setTimeout(drawFrame, 0);
  } else {
    drawFrame();
  }
}

function drawFrame() {
  afterPaint = 0;
  const run = player.run;
  if (pendingScale >= 0 && parts.renderer.settled(pendingScale)) switchScale(run);
  drawAt(run, clockMs(run, performance.now()), ({ timeMs, ended, ms, pixels }) => {
    run.frames++;
    frameTimed(run, ended, ms);
    frameDrawn(run, pixels, ms);
    changed('frame');
    if (timeMs >= player.endMs) {
      atEnd();
      return;
    }
    frameRequest = requestAnimationFrame(frame);
  });
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
