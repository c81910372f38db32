// window.demoDebug, for tests and measuring tools: the player's state (read
// through: state is the phase's name; startMs, frameRect and the like may be
// set), the measurements of the latest run, and a few calls: still frames
// and frame times (not while a run draws), the start view's still, the song
// rendered in the Worker alone, and a recording of the sound's output.
// Pixels and sound come back as base64 text.
import { player, parts, Phase } from './player_state.js';

function base64(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary);
}

// Draws from now on at the scale that runs start at.
function atRunScale() {
  if (player.phase !== Phase.READY) throw new Error(`not ready (${player.phase})`);
  const { width, height } = parts.scales.list[player.scale];
  parts.renderer.use(player.scale, width, height);
}

const debug = {
  get state() { return player.phase; },
  get scales() { return parts.scales ? parts.scales.list : []; },
  get scale() { return player.scale; },
  get adaptive() { return player.adaptive; },
  get predictedScale() { return player.predictedScale; },
  get startMs() { return player.startMs; },
  get resumeMs() { return player.resumeMs; },
  set startMs(ms) { player.startMs = ms; },
  get message() { return player.message; },
  get still() { return player.still; },
  get run() { return player.run; },
  get runs() { return player.runs; },
  get volume() { return player.volume; },
  get muted() { return player.muted; },
  get frameRect() { return player.frameRect; },
  set frameRect(rect) { player.frameRect = rect; },
  recording: null,

  drawStill(timeMs, rect) {
    atRunScale();
    const started = performance.now();
    parts.renderer.draw(timeMs, rect);
    const pixels = parts.renderer.read(rect);
    return { ms: performance.now() - started, rgba: base64(pixels) };
  },

  timeFrames(timeMs, count) {
    atRunScale();
    const times = [];
    for (let i = 0; i < count; i++) {
      const started = performance.now();
      parts.renderer.draw(timeMs + i * 17);
      parts.renderer.finish();
      times.push(performance.now() - started);
    }
    return times;
  },

  // The start view's still as drawn: RGBA bytes, rows top first.
  stillPixels: () => base64(parts.stillPixels),

  // Renders the whole song in the Worker with nothing playing or drawing;
  // resolves to { frames, wallMs, renderMs }.
  renderSongInWorker: () => new Promise((resolve) => {
    if (player.phase !== Phase.READY || parts.measuring) throw new Error(`not ready (${player.phase})`);
    parts.measuring = resolve;
    const nowhere = new MessageChannel();
    parts.worker.postMessage({ type: 'start', startFrame: player.songFrames, port: nowhere.port1, id: 0 }, [nowhere.port1]);
  }),

  stopRecording: () => parts.sound.stopRecording(),

  // Records the next run's output for `seconds` (see SongSound); the frames,
  // interleaved, land in demoDebug.recording.
  recordNextRun: (seconds) => parts.sound.recordNextRun(seconds).then(({ left, right }) => {
    const interleaved = new Float32Array(left.length * 2);
    for (let i = 0; i < left.length; i++) {
      interleaved[2 * i] = left[i];
      interleaved[2 * i + 1] = right[i];
    }
    debug.recording = base64(new Uint8Array(interleaved.buffer));
    return true;
  }),
};

export function setUpTestHooks() {
  window.demoDebug = debug;
}
