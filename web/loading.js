// Loading the page: the query parameters, WebGL2, the WebAssembly module
// (with a progress line), the synthesizer's Worker, the scene shader and the
// still behind the start view. What cannot work here ends in fail(), which
// says why in words.
import { compileDemoWasm, instantiateDemo, SceneScales } from './wasm_loader.js';
import { SceneRenderer } from './scene_gl.js';
import { SongSound } from './song_sound.js';
import { textPart, workerUrl } from './page_parts.js';
import { player, parts, Phase, setPhase, changed, clockText } from './player_state.js';
import { readTimeLine, showFlashWarning } from './chapters.js';
import { showProgress } from './page_views.js';
import { endRun, onWorkerMessage } from './run.js';

// The moment of the still behind the start view, drawn at the coarsest scale.
const STILL_MS = 30000;

// The page cannot play here: `text` says why.
export function fail(text) {
  player.message = text;
  setPhase(Phase.FAILED);
  changed('message');
}

// ?t=: the moment to start at, as seconds ("90", "90.5", "90s"), minutes
// and seconds ("1:30", "1:30.5") or both with units ("1m30s", "2m"); null
// for anything else, or a moment not before the end.
export function parseStartTime(text) {
  const forms = [
    /^(?<s>\d+(?:\.\d+)?)s?$/,
    /^(?<m>\d+):(?<s>[0-5]?\d(?:\.\d+)?)$/,
    /^(?<m>\d+)m(?:(?<s>\d+(?:\.\d+)?)s)?$/,
  ];
  for (const form of forms) {
    const match = form.exec(text.trim());
    if (!match) continue;
    const ms = Math.round((Number(match.groups.m ?? 0) * 60 + Number(match.groups.s ?? 0)) * 1000);
    return ms < player.endMs ? ms : null;
  }
  return null;
}

// A query parameter that cannot be used is set aside with a line on the
// start view, and the page plays without it.
function setAside(text) {
  const line = document.getElementById('set-aside');
  line.textContent = line.textContent ? `${line.textContent} ${text}` : text;
  line.hidden = false;
  console.warn(text);
}

// Loads everything; resolves with the player ready (or failed).
export async function load() {
  const query = new URLSearchParams(location.search);
  const canvas = document.getElementById('scene');
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
    showProgress(total
      ? `Loading the synthesizer: ${Math.floor(100 * received / total)} % of ${Math.round(total / 1024)} KiB`
      : `Loading the synthesizer: ${Math.round(received / 1024)} KiB`);
  });
  showProgress('Starting the synthesizer…');
  const demo = await instantiateDemo(module);
  parts.demo = demo;
  player.endMs = demo._exitTimeMs();
  player.songFrames = demo._songFrames();
  player.sampleRate = demo._songSampleRate();
  const scales = new SceneScales(demo);
  parts.scales = scales;
  showVersion(demo);

  const timeText = query.get('t');
  const startMs = timeText === null ? 0 : parseStartTime(timeText);
  if (startMs === null) {
    setAside(`The link's start time "${timeText}" was set aside: it is not a moment before `
      + `${clockText(player.endMs)} (such as 90, 90s, 1:30 or 1m30s), so Play starts at the beginning.`);
  }
  player.startMs = startMs ?? 0;

  const scaleText = query.get('scale');
  if (scaleText !== null && scaleText !== 'auto') {
    const index = scales.parse(scaleText);
    if (index < 0) {
      setAside(`The link's resolution "${scaleText}" was set aside: it is none of ${scales.names()} `
        + '(or a drawn size such as 1280x720 or 720p), so the resolution follows the frame times.');
    } else {
      player.scale = index;
      player.adaptive = false;
    }
  }

  const worker = new Worker(workerUrl());
  parts.worker = worker;
  const workerReady = new Promise((resolve, reject) => {
    worker.onmessage = (event) => {
      if (event.data.type === 'ready') resolve();
      else onWorkerMessage(event.data);
    };
    worker.onerror = (event) => {
      const text = `the synthesizer's Worker failed: ${event.message || 'it could not be started'}`;
      console.error(text);
      reject(new Error(text));
    };
  });
  workerReady.catch(() => {});  // awaited below, after the shader
  worker.postMessage({ type: 'module', module });
  parts.sound = new SongSound(worker, player.songFrames, player.sampleRate);

  showProgress('Compiling the scene shader…');
  const sceneText = await textPart('scene.frag');
  readTimeLine(sceneText);
  showFlashWarning();
  const renderer = new SceneRenderer(gl, (index) => scales.scaledText(sceneText, index));
  parts.renderer = renderer;
  renderer.prepare(scales.coarsest);
  renderer.prepare(player.scale);
  await renderer.ready(scales.coarsest);
  await renderer.ready(player.scale);

  showProgress('Drawing a still of the demo…');
  await new Promise((resolve) => requestAnimationFrame(resolve));
  drawStartStill();
  if (player.adaptive) {
    // An automatic run starts at the scale that the still's time predicts:
    // its program is built before the page is ready.
    const { ms, width, height } = player.still;
    player.predictedScale = scales.predict(ms / 1000, width * height);
    renderer.prepare(player.predictedScale);
    await renderer.ready(player.predictedScale);
  }
  showProgress('Starting the synthesizer…');
  await workerReady;
}

// "version 1.0.0 (git 45dca8e)" along the bottom of the start view.
function showVersion(demo) {
  const revision = demo.UTF8ToString(demo._demoRevision());
  document.getElementById('version').textContent = `version ${demo.UTF8ToString(demo._demoVersion())}`
    + (revision ? ` (${revision})` : '');
}

// The still behind the start view: the whole picture at STILL_MS, at the
// coarsest scale, so that it comes quickly even where frames are slow.
function drawStartStill() {
  const { renderer, scales } = parts;
  const index = scales.coarsest;
  const { width, height } = scales.list[index];
  renderer.use(index, width, height);
  const started = performance.now();
  renderer.draw(STILL_MS);
  parts.stillPixels = renderer.read({ x: 0, y: 0, width, height });
  player.still = { timeMs: STILL_MS, index, width, height, ms: performance.now() - started };
}
