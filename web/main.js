// The page: loads the WebAssembly module (with a progress line) and the
// scene shader, shows the start view, and on a click or a key runs the demo
// full screen — sound first, then the picture's clock from 0 — until Escape
// or 185 s, then shows the start view again.
//
// Query parameters: ?scale=N draws at 1920/N x 1080/N (the desktop's
// --scale N: 1, 2, 3, 4 or 6); ?t=SECONDS starts at that moment of the demo,
// the sound at the matching frame of the song.
//
// window.demoDebug offers the state, the measurements of the last run and a
// few calls for tests and measuring tools (still frames, frame times, a
// recording of the sound graph's output); its startMs (from ?t=) is where
// the next run starts, and its frameRect, when set, limits the runs'
// drawing to part of the picture (for tests on a software renderer).
import { compileDemoWasm, instantiateDemo, SceneText } from './wasm_loader.js';
import { SceneRenderer } from './scene_gl.js';
import { SongSound, SAMPLE_RATE } from './song_sound.js';

// The first frame at or after this time is the last.
const END_MS = 185000;

const canvas = document.getElementById('scene');
const startView = document.getElementById('start-view');
const progress = document.getElementById('progress');
const prompt = document.getElementById('prompt');
const messageLine = document.getElementById('message');

const debug = {
  state: 'loading',
  scale: 1,
  startMs: 0,
  message: '',
  run: null,       // measurements of the latest run (see startRun)
  runs: 0,
  frameRect: null, // when set, runs draw only this rect of the picture (tests)
};
window.demoDebug = debug;

let renderer = null;
let sound = null;
let worker = null;
let songFrames = 0;
let measuring = null;  // resolves demoDebug.renderSongInWorker()
let frameRequest = 0;
let loopStart = 0;

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
  if (!/^\d+(\.\d+)?$/.test(text) || Number(text) * 1000 >= END_MS) return null;
  return Math.round(Number(text) * 1000);
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

  const startMs = parseStartTime(query.get('t'));
  if (startMs === null) {
    fail(`?t= takes the number of seconds to start at, from 0 to below 185, not "${query.get('t')}".`);
    return;
  }
  debug.startMs = startMs;

  const module = await compileDemoWasm((received, total) => {
    progress.textContent = total
      ? `Loading the synthesizer: ${Math.floor(100 * received / total)} % of ${Math.round(total / 1024)} KiB`
      : `Loading the synthesizer: ${Math.round(received / 1024)} KiB`;
  });
  progress.textContent = 'Starting the synthesizer…';
  const demo = await instantiateDemo(module);
  const text = new SceneText(demo);

  const scaleText = query.get('scale');
  const scale = scaleText === null ? 1 : text.parseScale(scaleText);
  if (!scale) {
    fail(`?scale= takes ${text.scaleList()}, not "${scaleText}".`);
    return;
  }
  debug.scale = scale;
  canvas.width = 1920 / scale;
  canvas.height = 1080 / scale;

  worker = new Worker('synth_worker.js');
  const workerReady = new Promise((resolve, reject) => {
    worker.onmessage = (event) => {
      if (event.data.type === 'ready') resolve();
      else onSoundEvent(event.data);
    };
    worker.onerror = (event) => {
      console.error(`the synthesizer's Worker failed: ${event.message}`);
      reject(new Error(`the synthesizer's Worker failed: ${event.message}`));
    };
  });
  workerReady.catch(() => {});  // awaited below, after the shader
  worker.postMessage({ type: 'module', module });
  songFrames = demo._songFrames();
  sound = new SongSound(worker, songFrames, onSoundEvent);

  progress.textContent = 'Compiling the scene shader…';
  const response = await fetch('scene.frag');
  if (!response.ok) throw new Error(`scene.frag could not be loaded (HTTP ${response.status})`);
  renderer = new SceneRenderer(gl, text.scaled(await response.text(), scale));
  await renderer.ready();
  await workerReady;

  debug.state = 'ready';
  show(progress, false);
  show(prompt, true);
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

async function startRun() {
  if (debug.state !== 'ready' || measuring) return;
  debug.state = 'starting';
  const run = { clickAt: performance.now(), startMs: debug.startMs, frames: 0, id: ++debug.runs };
  debug.run = run;
  if (document.fullscreenEnabled && !document.fullscreenElement) {
    document.documentElement.requestFullscreen({ navigationUI: 'hide' }).catch(() => {});
  }
  show(startView, false);
  document.body.classList.add('running');
  try {
    await sound.start(Math.round(debug.startMs * SAMPLE_RATE / 1000));
  } catch (error) {
    console.error(error);
    endRun();
    fail(`The demo cannot play its sound here: ${error.message}`);
    return;
  }
  if (debug.state !== 'starting' || debug.run !== run) return;  // ended meanwhile
  debug.state = 'running';
  loopStart = performance.now();
  run.loopStartAt = loopStart;
  frameRequest = requestAnimationFrame(frame);
}

function frame() {
  const timeMs = debug.startMs + Math.floor(performance.now() - loopStart);
  renderer.draw(timeMs, debug.frameRect);
  debug.run.frames++;
  debug.run.timeMs = timeMs;
  if (timeMs >= END_MS) {
    endRun();
    return;
  }
  frameRequest = requestAnimationFrame(frame);
}

function endRun() {
  if (debug.state !== 'running' && debug.state !== 'starting') return;
  debug.state = 'ready';
  cancelAnimationFrame(frameRequest);
  sound.stop();
  if (debug.run) debug.run.endedAt = performance.now();
  document.body.classList.remove('running');
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  show(startView, true);
}

startView.addEventListener('click', startRun);
document.addEventListener('keydown', (event) => {
  if (event.repeat) return;
  if (event.key === 'Escape') {
    endRun();
  } else if (!['Shift', 'Control', 'Alt', 'Meta', 'AltGraph', 'CapsLock', 'Tab'].includes(event.key)) {
    startRun();
  }
});
// In full screen the browser takes Escape for itself and leaves full screen;
// leaving it ends the run all the same.
document.addEventListener('fullscreenchange', () => {
  if (!document.fullscreenElement) endRun();
});

function base64(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary);
}

// Still frames and frame times, for tests and measuring tools (not while a
// run draws); pixels and sound come back as base64 text.
debug.drawStill = (timeMs, rect) => {
  if (debug.state !== 'ready') throw new Error(`not ready (${debug.state})`);
  const started = performance.now();
  renderer.draw(timeMs, rect);
  const pixels = renderer.read(rect);
  return { ms: performance.now() - started, rgba: base64(pixels) };
};
debug.timeFrames = (timeMs, count) => {
  if (debug.state !== 'ready') throw new Error(`not ready (${debug.state})`);
  const times = [];
  const corner = { x: 0, y: 0, width: 1, height: 1 };
  for (let i = 0; i < count; i++) {
    const started = performance.now();
    renderer.draw(timeMs + i * 17);
    renderer.read(corner);
    times.push(performance.now() - started);
  }
  return times;
};
// Renders the whole song in the Worker with nothing playing or drawing;
// resolves to { frames, wallMs, renderMs }.
debug.renderSongInWorker = () => new Promise((resolve) => {
  if (debug.state !== 'ready' || measuring) throw new Error(`not ready (${debug.state})`);
  measuring = resolve;
  const nowhere = new MessageChannel();
  worker.postMessage({ type: 'start', startFrame: songFrames, port: nowhere.port1 }, [nowhere.port1]);
});
debug.recordNextRun = (seconds) => sound.recordNextRun(seconds).then(({ left, right }) => {
  const interleaved = new Float32Array(left.length * 2);
  for (let i = 0; i < left.length; i++) {
    interleaved[2 * i] = left[i];
    interleaved[2 * i + 1] = right[i];
  }
  debug.recording = base64(new Uint8Array(interleaved.buffer));
  return true;
});

load().catch((error) => {
  console.error(error);
  fail(`The demo could not start: ${error.message}`);
});
