// The page: loads the WebAssembly module (with a progress line) and the
// scene shader, draws one still of the demo behind the start view, and on a
// click or a key runs the demo full screen — sound first, then the picture's
// clock — until Escape or 185 s, then shows the start view again. While it
// runs: Space pauses and resumes sound and picture together, Left and Right
// go 10 s back and forward, F turns full screen on and off, I shows the
// resolution and the frame time.
//
// Query parameters: ?scale=NAME fixes the internal resolution (the names the
// module lists, as the desktop's --scale takes them); without it (or with
// ?scale=auto) the module's scale governor chooses it from the frame times,
// as the desktop's --scale auto does. ?t=SECONDS starts at that moment of
// the demo, the sound at the matching frame of the song; while the demo is
// paused the address holds the paused moment in ?t=, so that the link starts
// there.
//
// window.demoDebug offers the state, the measurements of the last run and a
// few calls for tests and measuring tools (still frames, frame times, a
// recording of the sound graph's output); its startMs (from ?t=) is where
// the next run starts, and its frameRect, when set, limits the runs'
// drawing to that rect of the full 1920x1080 picture (for tests on a
// software renderer: the work per frame still follows the scale).
import { compileDemoWasm, instantiateDemo, SceneScales } from './wasm_loader.js';
import { SceneRenderer } from './scene_gl.js';
import { SongSound } from './song_sound.js';
import { isOneFile, textPart, workerUrl } from './page_parts.js';

// The first frame at or after this time is the last (from the module).
let endMs = 0;
// The moment of the still behind the start view, drawn at the coarsest scale.
const STILL_MS = 30000;
const SEEK_MS = 10000;
// How long a run waits for the sound output to start before the picture
// runs without it.
const SOUND_WAIT_MS = 4000;
// How long a pause waits for the player to say where it stopped.
const PAUSE_ANSWER_MS = 1000;
// Frame times are shown as the mean over this much of the latest frames.
const SHOWN_FRAMES_MS = 1000;

const canvas = document.getElementById('scene');
const startView = document.getElementById('start-view');
const progress = document.getElementById('progress');
const prompt = document.getElementById('prompt');
const messageLine = document.getElementById('message');
const resolutionLine = document.getElementById('resolution');
const infoLine = document.getElementById('info');
const noticeLine = document.getElementById('notice');

const debug = {
  state: 'loading',  // loading, ready, starting, running, pausing, paused, failed
  scales: [],        // { index, name, width, height }, finest first (from the module)
  scale: 0,          // the index of the scale a run starts at
  adaptive: true,    // whether the frame times choose the scale
  startMs: 0,
  message: '',
  still: null,       // { timeMs, index, width, height, ms } of the start view's still
  run: null,         // measurements of the latest run (see startRun)
  runs: 0,
  frameRect: null,   // when set, runs draw only this rect of the full picture (tests)
};
window.demoDebug = debug;

let scales = null;
let renderer = null;
let sound = null;
let worker = null;
let songFrames = 0;
let measuring = null;  // resolves demoDebug.renderSongInWorker()
let frameRequest = 0;
let governor = null;
let pendingScale = -1;     // a scale the governor asked for, whose program is being built
let stillPixels = null;
let infoShown = false;
let leavingFullScreen = false;  // full screen left by the F key, not by the browser
let addressAtStart = '';

function show(element, visible) {
  element.hidden = !visible;
}

function fail(text) {
  debug.state = 'failed';
  debug.message = text;
  messageLine.textContent = text;
  show(messageLine, true);
  show(progress, false);
  show(prompt, false);
  show(startView, true);
}

// ?t=SECONDS: a plain decimal number of seconds before the end.
function parseStartTime(text) {
  if (text === null) return 0;
  if (!/^\d+(\.\d+)?$/.test(text) || Number(text) * 1000 >= endMs) return null;
  return Math.round(Number(text) * 1000);
}

function sizeText(index) {
  const { width, height } = scales.list[index];
  return `${width}×${height}`;
}

function resolutionText() {
  const list = scales.list;
  let text = debug.adaptive
    ? `Resolution: chosen from the frame times, from ${sizeText(0)} down to ${sizeText(scales.coarsest)} `
      + `(?scale=${list[scales.coarsest].name} and the like fix it).`
    : `Resolution: ${sizeText(debug.scale)} (?scale=${list[debug.scale].name}).`;
  if (debug.still) {
    text += ` The still took ${Math.round(debug.still.ms)} ms at ${sizeText(debug.still.index)}.`;
  }
  const run = debug.run;
  if (run && run.frames > 0 && run.endedAt !== undefined) {
    text += ` The last run ended at ${sizeText(run.scale)}`
      + (run.frameMs !== undefined ? `, ${Math.round(run.frameMs)} ms a frame.` : '.');
  }
  return text;
}

async function load() {
  const query = new URLSearchParams(location.search);
  const gl = canvas.getContext('webgl2', {
    alpha: false, depth: false, stencil: false, antialias: false,
    preserveDrawingBuffer: false, powerPreference: 'high-performance',
  });
  if (!gl) {
    fail('This browser cannot show the demo: it offers no WebGL2 here, and the '
      + 'picture is drawn with WebGL2. A current Firefox, Chrome, Edge or Safari '
      + 'with hardware acceleration turned on has it.');
    return;
  }
  canvas.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    endRun();
    fail('The browser took the graphics context away (the graphics driver was reset '
      + 'or is overloaded). Reload the page to start again.');
  });

  const module = await compileDemoWasm((received, total) => {
    progress.textContent = total
      ? `Loading the synthesizer: ${Math.floor(100 * received / total)} % of ${Math.round(total / 1024)} KiB`
      : `Loading the synthesizer: ${Math.round(received / 1024)} KiB`;
  });
  progress.textContent = 'Starting the synthesizer…';
  const demo = await instantiateDemo(module);
  endMs = demo._exitTimeMs();
  scales = new SceneScales(demo);
  debug.scales = scales.list;

  const startMs = parseStartTime(query.get('t'));
  if (startMs === null) {
    fail(`?t= takes the number of seconds to start at, from 0 to below ${endMs / 1000}, not "${query.get('t')}".`);
    return;
  }
  debug.startMs = startMs;

  const scaleText = query.get('scale');
  if (scaleText !== null && scaleText !== 'auto') {
    const index = scales.parse(scaleText);
    if (index < 0) {
      fail(`?scale= takes ${scales.names()} (or a drawn size such as 1280x720 or 720p; or auto, the default), `
        + `not "${scaleText}".`);
      return;
    }
    debug.scale = index;
    debug.adaptive = false;
  }

  worker = new Worker(workerUrl());
  const workerReady = new Promise((resolve, reject) => {
    worker.onmessage = (event) => {
      if (event.data.type === 'ready') resolve();
      else onSoundEvent(event.data);
    };
    worker.onerror = (event) => {
      const text = `the synthesizer's Worker failed: ${event.message || 'it could not be started'}`;
      console.error(text);
      reject(new Error(text));
    };
  });
  workerReady.catch(() => {});  // awaited below, after the shader
  worker.postMessage({ type: 'module', module });
  songFrames = demo._songFrames();
  sound = new SongSound(worker, songFrames, demo._songSampleRate(), onSoundEvent);

  progress.textContent = 'Compiling the scene shader…';
  const sceneText = await textPart('scene.frag');
  renderer = new SceneRenderer(gl, (index) => scales.scaledText(sceneText, index));
  renderer.prepare(scales.coarsest);
  renderer.prepare(debug.scale);
  await renderer.ready(scales.coarsest);
  await renderer.ready(debug.scale);

  progress.textContent = 'Drawing a still of the demo…';
  await new Promise((resolve) => requestAnimationFrame(resolve));
  drawStartStill();
  progress.textContent = 'Starting the synthesizer…';
  await workerReady;

  debug.state = 'ready';
  resolutionLine.textContent = resolutionText();
  show(progress, false);
  show(prompt, true);
}

// The still behind the start view: the whole picture at STILL_MS, at the
// coarsest scale, so that it comes quickly even where frames are slow.
function drawStartStill() {
  const index = scales.coarsest;
  const { width, height } = scales.list[index];
  renderer.use(index, width, height);
  const started = performance.now();
  renderer.draw(STILL_MS);
  stillPixels = renderer.read({ x: 0, y: 0, width, height });
  debug.still = { timeMs: STILL_MS, index, width, height, ms: performance.now() - started };
}

function onSoundEvent(message) {
  const run = debug.run;
  if (message.type === 'error') {
    console.error(`synthesizer: ${message.message}`);
    return;
  }
  if (measuring && message.type === 'done') {
    measuring(message);
    measuring = null;
    return;
  }
  if (!run || measuring) return;
  if (message.type === 'first-sound') {
    run.firstSoundContextTime = message.contextTime;
  } else if (message.type === 'status') {
    run.playPosition = message.position;
    run.silentFrames = message.silentFrames;
  } else if (message.type === 'paused') {
    pausedAt(message);
  } else if (message.type === 'resumed') {
    run.pauses[run.pauses.length - 1].resumed = { position: message.position, played: message.played };
  } else if (message.type === 'seeked') {
    Object.assign(run.seeks.find((seek) => seek.played === undefined), { position: message.position, played: message.played });
  }
  if (run.firstSoundContextTime !== undefined && run.firstSoundAt === undefined) {
    // When that frame leaves the output, on the page's clock (once the
    // context has an output timestamp to tell).
    const stamp = sound.outputTimestamp();
    if (stamp && stamp.contextTime > 0 && stamp.performanceTime > 0) {
      run.firstSoundAt = stamp.performanceTime + (run.firstSoundContextTime - stamp.contextTime) * 1000;
    }
  }
  if (message.type === 'progress' || message.type === 'done') {
    run.synth = { frames: message.frames, wallMs: message.wallMs, renderMs: message.renderMs, done: message.type === 'done' };
  }
}

// ---------------------------------------------------------------------------
// A run.

async function startRun() {
  if (debug.state !== 'ready' || measuring) return;
  debug.state = 'starting';
  const run = {
    clickAt: performance.now(), startMs: debug.startMs, frames: 0, id: ++debug.runs,
    scale: debug.scale, scaleChanges: [], recentFrames: [], pauses: [], seeks: [],
  };
  debug.run = run;
  addressAtStart = location.href;
  if (document.fullscreenEnabled && !document.fullscreenElement) {
    document.documentElement.requestFullscreen({ navigationUI: 'hide' }).catch(() => {});
  }
  show(startView, false);
  document.body.classList.add('running');
  showInfo();
  governor = scales.governor(debug.scale, debug.adaptive);
  pendingScale = -1;
  const { width, height } = scales.list[debug.scale];
  renderer.use(debug.scale, width, height);
  let soundRuns;
  try {
    soundRuns = await sound.start(Math.round(debug.startMs * sound.sampleRate / 1000), SOUND_WAIT_MS);
  } catch (error) {
    console.error(error);
    endRun();
    fail(`The demo cannot play its sound here: ${error.message}${fromDiskAdvice()}`);
    return;
  }
  if (debug.state !== 'starting' || debug.run !== run) return;  // ended meanwhile
  if (!soundRuns) {
    // The picture goes on; the sound joins it where it stands if the
    // output starts later.
    run.noSound = true;
    noticeLine.textContent = `No sound: the browser has not started its sound output in ${SOUND_WAIT_MS / 1000} s `
      + '(is there a sound device? is sound blocked for this page?). The picture runs without it; '
      + 'the sound joins in if the output starts.';
    show(noticeLine, true);
    sound.whenRunning.then(() => soundJoins(run));
  }
  debug.state = 'running';
  run.loopStartAt = performance.now();
  run.clockStart = run.loopStartAt;
  run.clockBaseMs = debug.startMs;
  frameRequest = requestAnimationFrame(frame);
}

// The sound output started late: the sound goes to the picture's moment.
function soundJoins(run) {
  if (debug.run !== run || !['running', 'pausing', 'paused'].includes(debug.state)) return;
  run.noSound = false;
  show(noticeLine, false);
  seekSound(run, debug.state === 'running' ? clockMs(run, performance.now()) : run.pausedMs);
}

// The sound from the song's frame of `ms` on.
function seekSound(run, ms) {
  const frame = Math.round(ms * sound.sampleRate / 1000);
  run.seeks.push({ toMs: ms, frame });
  sound.seek(frame);
}

// The picture's time at page time `now`.
function clockMs(run, now) {
  return run.clockBaseMs + Math.floor(now - run.clockStart);
}

// `debug.frameRect` (in full-picture pixels) in the drawing buffer of scale
// `index`; null for the whole picture.
function drawnRect(index) {
  const rect = debug.frameRect;
  if (!rect) return null;
  const full = scales.list[0];
  const { width, height } = scales.list[index];
  const x = Math.floor(rect.x * width / full.width);
  const y = Math.floor(rect.y * height / full.height);
  return {
    x, y,
    width: Math.max(1, Math.ceil((rect.x + rect.width) * width / full.width) - x),
    height: Math.max(1, Math.ceil((rect.y + rect.height) * height / full.height) - y),
  };
}

function switchScale(run) {
  const wanted = pendingScale;
  pendingScale = -1;
  if (renderer.usable(wanted)) {
    renderer.use(wanted, scales.list[wanted].width, scales.list[wanted].height);
    run.scale = wanted;
    run.scaleChanges.push({ timeMs: run.timeMs, index: wanted, at: performance.now() });
    run.recentFrames = [];
  } else {
    // Keep the scale that works.
    console.warn(`the picture stays at ${sizeText(run.scale)}: ${sizeText(wanted)} could not be set up`);
    governor.destroy();
    governor = scales.governor(run.scale, false);
  }
}

function frame() {
  const run = debug.run;
  if (pendingScale >= 0 && renderer.settled(pendingScale)) switchScale(run);
  const started = performance.now();
  const timeMs = clockMs(run, started);
  renderer.draw(timeMs, drawnRect(run.scale));
  // Wait for the drawing, so that the time is the frame's and not the wait
  // for the display's refresh.
  renderer.finish();
  const ended = performance.now();
  run.frames++;
  run.timeMs = timeMs;
  frameTimed(run, ended, ended - started);
  if (timeMs >= endMs) {
    endRun();
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
      renderer.prepare(wanted);
    }
  }
  if (governor.takeSlowStartHint()) {
    run.hint = `The first frames took longer than ${governor.slowStartMs()} ms at ${sizeText(run.scale)}: `
      + 'without ?scale= the page draws fewer pixels where the graphics card needs it.';
    console.warn(run.hint);
  }
  showInfo();
}

function showInfo() {
  show(infoLine, infoShown && debug.state !== 'ready' && debug.state !== 'failed');
  if (!infoShown || !debug.run) return;
  const run = debug.run;
  const parts = [`${sizeText(run.scale)} (${debug.adaptive ? 'auto' : `?scale=${scales.list[run.scale].name}`})`];
  if (run.frameMs !== undefined) parts.push(`${run.frameMs.toFixed(run.frameMs < 10 ? 1 : 0)} ms a frame`);
  if (run.pausedMs !== undefined && debug.state === 'paused') parts.push(`paused at ${(run.pausedMs / 1000).toFixed(1)} s`);
  if (run.hint) parts.push(run.hint);
  infoLine.textContent = parts.join(' · ');
}

// ?t= of the address: `ms`, or the address the run started with (null).
function setAddressTime(ms) {
  if (ms === null) {
    history.replaceState(history.state, '', addressAtStart);
    return;
  }
  const url = new URL(location.href);
  url.searchParams.set('t', String(ms / 1000));
  history.replaceState(history.state, '', url.href);
}

function togglePause() {
  const run = debug.run;
  if (debug.state === 'running' && run.noSound) {
    cancelAnimationFrame(frameRequest);
    sound.pause();
    pauseAtPicture(run);
  } else if (debug.state === 'running') {
    debug.state = 'pausing';
    cancelAnimationFrame(frameRequest);
    sound.pause();  // answered by 'paused', see pausedAt
    setTimeout(() => {
      if (debug.state === 'pausing' && debug.run === run) pauseAtPicture(run);
    }, PAUSE_ANSWER_MS);
  } else if (debug.state === 'paused') {
    debug.state = 'running';
    sound.resume();
    run.clockStart = performance.now();
    run.clockBaseMs = run.pausedMs;
    run.pausedMs = undefined;
    setAddressTime(null);
    debug.startMs = run.startMs;
    frameRequest = requestAnimationFrame(frame);
  }
  showInfo();
}

// A player that does not run gives no answer: the moment of the picture
// drawn last is the one to hold, and the player is told to hold it too.
function pauseAtPicture(run) {
  debug.state = 'paused';
  const ms = Math.min(run.timeMs ?? run.clockBaseMs, endMs - 1);
  seekSound(run, ms);
  showPausedMoment(run, ms);
}

// The sound stopped before song frame `position`: the picture shows that
// moment.
function pausedAt({ position, played }) {
  const run = debug.run;
  if (debug.state !== 'pausing') return;
  debug.state = 'paused';
  run.pauses.push({ position, played });
  showPausedMoment(run, Math.min(Math.floor(position * 1000 / sound.sampleRate), endMs - 1));
}

function showPausedMoment(run, ms) {
  run.pausedMs = ms;
  run.timeMs = ms;
  renderer.draw(ms, drawnRect(run.scale));
  setAddressTime(ms);
  debug.startMs = ms;
  showInfo();
}

function seek(deltaMs) {
  const run = debug.run;
  if (debug.state === 'running') {
    const now = performance.now();
    const target = Math.max(0, clockMs(run, now) + deltaMs);
    seekSound(run, target);
    run.clockStart = now;
    run.clockBaseMs = target;
  } else if (debug.state === 'paused') {
    const target = Math.min(Math.max(0, run.pausedMs + deltaMs), endMs - 1);
    seekSound(run, target);
    showPausedMoment(run, target);
  }
}

function toggleFullScreen() {
  if (document.fullscreenElement) {
    leavingFullScreen = true;
    document.exitFullscreen().catch(() => { leavingFullScreen = false; });
  } else if (document.fullscreenEnabled) {
    document.documentElement.requestFullscreen({ navigationUI: 'hide' }).catch(() => {});
  }
}

function endRun() {
  if (!['running', 'starting', 'pausing', 'paused'].includes(debug.state)) return;
  debug.state = 'ready';
  cancelAnimationFrame(frameRequest);
  sound.stop();
  if (governor) governor.destroy();
  governor = null;
  pendingScale = -1;
  if (debug.run) debug.run.endedAt = performance.now();
  document.body.classList.remove('running');
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  show(noticeLine, false);
  resolutionLine.textContent = resolutionText();
  show(startView, true);
  showInfo();
}

const NOT_STARTING = ['Shift', 'Control', 'Alt', 'Meta', 'AltGraph', 'CapsLock', 'Tab', 'Escape'];

startView.addEventListener('click', startRun);
document.addEventListener('keydown', (event) => {
  if (event.ctrlKey || event.altKey || event.metaKey) return;
  const playing = ['running', 'pausing', 'paused'].includes(debug.state);
  if (event.key === ' ' || event.key === 'ArrowLeft' || event.key === 'ArrowRight') event.preventDefault();
  if (event.repeat) return;
  if (event.key === 'Escape') {
    endRun();
  } else if (playing) {
    if (event.key === ' ') togglePause();
    else if (event.key === 'ArrowLeft') seek(-SEEK_MS);
    else if (event.key === 'ArrowRight') seek(SEEK_MS);
    else if (event.key === 'f' || event.key === 'F') toggleFullScreen();
    else if (event.key === 'i' || event.key === 'I') {
      infoShown = !infoShown;
      showInfo();
    }
  } else if (!NOT_STARTING.includes(event.key)) {
    startRun();
  }
});
// In full screen the browser takes Escape for itself and leaves full screen;
// leaving it so ends the run all the same. Leaving it with F does not.
document.addEventListener('fullscreenchange', () => {
  if (document.fullscreenElement) return;
  if (leavingFullScreen) leavingFullScreen = false;
  else endRun();
});

function base64(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary);
}

// Still frames and frame times, for tests and measuring tools (not while a
// run draws), at the scale that runs start at; pixels and sound come back as
// base64 text.
function atRunScale() {
  if (debug.state !== 'ready') throw new Error(`not ready (${debug.state})`);
  const { width, height } = scales.list[debug.scale];
  renderer.use(debug.scale, width, height);
}
debug.drawStill = (timeMs, rect) => {
  atRunScale();
  const started = performance.now();
  renderer.draw(timeMs, rect);
  const pixels = renderer.read(rect);
  return { ms: performance.now() - started, rgba: base64(pixels) };
};
debug.timeFrames = (timeMs, count) => {
  atRunScale();
  const times = [];
  for (let i = 0; i < count; i++) {
    const started = performance.now();
    renderer.draw(timeMs + i * 17);
    renderer.finish();
    times.push(performance.now() - started);
  }
  return times;
};
// The start view's still as drawn: RGBA bytes, rows top first.
debug.stillPixels = () => base64(stillPixels);
// Renders the whole song in the Worker with nothing playing or drawing;
// resolves to { frames, wallMs, renderMs }.
debug.renderSongInWorker = () => new Promise((resolve) => {
  if (debug.state !== 'ready' || measuring) throw new Error(`not ready (${debug.state})`);
  measuring = resolve;
  const nowhere = new MessageChannel();
  worker.postMessage({ type: 'start', startFrame: songFrames, port: nowhere.port1 }, [nowhere.port1]);
});
debug.stopRecording = () => sound.stopRecording();
debug.recordNextRun = (seconds) => sound.recordNextRun(seconds).then(({ left, right }) => {
  const interleaved = new Float32Array(left.length * 2);
  for (let i = 0; i < left.length; i++) {
    interleaved[2 * i] = left[i];
    interleaved[2 * i + 1] = right[i];
  }
  debug.recording = base64(new Uint8Array(interleaved.buffer));
  return true;
});

// What to try instead where something was refused to a page opened from disk.
function fromDiskAdvice() {
  if (location.protocol !== 'file:') return '';
  return isOneFile
    ? ' Opened from disk, a browser may refuse what it allows from a web server: serve this '
      + 'file\'s folder with one (python3 -m http.server, then open http://localhost:8000/demo.html).'
    : ' Opened as a file, this page cannot load its parts: open demo.html (the whole demo in one file) '
      + 'instead, or serve this folder with a web server (./run-web.sh).';
}

load().catch((error) => {
  console.error(error);
  fail(`The demo could not start: ${error.message}${fromDiskAdvice()}`);
});
