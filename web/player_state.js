// The player's one state: the phase it is in, where the next run starts, the
// scale policy, the sound level, the latest run, and the parts that loading
// made (the module's scales, the renderer, the sound). Every other file reads
// and changes it here; setPhase() and changed() tell the listeners (the
// controls, the media session) so that what the page shows follows it.

export const Phase = Object.freeze({
  LOADING: 'loading',   // the module, the shader and the still are on their way
  READY: 'ready',       // the start view: a click or a key starts a run
  STARTING: 'starting', // the sound output is being started
  RUNNING: 'running',   // sound and picture run
  WAITING: 'waiting',   // held at a moment the synthesizer has not rendered yet
  PAUSING: 'pausing',   // the player was asked to stop and has not answered yet
  PAUSED: 'paused',     // held at the paused moment
  FAILED: 'failed',     // the page cannot play here (the message says why)
});

// The phases of a run that has its sound and picture set up.
const IN_RUN = [Phase.RUNNING, Phase.WAITING, Phase.PAUSING, Phase.PAUSED];

export const player = {
  phase: Phase.LOADING,
  endMs: 0,          // the first frame at or after this time is the last (from the module)
  songFrames: 0,     // the song's length in frames (from the module)
  sampleRate: 0,
  startMs: 0,        // where the next run starts
  resumeMs: null,    // where the run that the viewer ended stood (the start view offers it)
  scale: 0,          // the index of the scale a run starts at
  adaptive: true,    // whether the frame times choose the scale
  volume: 1,         // the output's gain, 0 to 1; exactly 1 leaves the samples as they are
  muted: false,
  message: '',       // the latest failure in words
  notice: '',        // the line over the picture
  noticeStays: false,  // whether it waits for the viewer rather than fade
  predictedScale: -1,  // where an automatic run starts, as the still's time predicts
  still: null,       // { timeMs, index, width, height, ms } of the start view's still
  run: null,         // the latest run (see run.js)
  runs: 0,
  soundHasPlayed: false,  // a run of this page has had its sound
  frameRect: null,   // when set, runs draw only this rect of the full picture (tests)
  infoShown: false,  // the I key's line
};

// What loading made: { scales, renderer, sound, worker, demo, stillPixels }.
export const parts = {};

const listeners = new Set();

// Calls `listener(what, detail)` on every change: 'phase', 'frame' (the
// picture's moment moved), 'render' (the synthesizer got further), 'volume',
// 'scale', 'screen', 'notice', 'message', 'seek' (detail: the moment).
export function listen(listener) {
  listeners.add(listener);
}

export function changed(what, detail) {
  for (const listener of listeners) listener(what, detail);
}

export function setPhase(phase) {
  player.phase = phase;
  changed('phase');
}

// Whether a run is set up (running, waiting, pausing or paused).
export function inRun() {
  return IN_RUN.includes(player.phase);
}

// The run's moment: the paused or held moment, or while it plays its
// clock's, which the sound follows (not the latest frame's, which lags it
// by up to a frame: seconds on a slow device).
export function momentMs() {
  const run = player.run;
  if (!run) return player.startMs;
  if (run.heldMs !== undefined) return run.heldMs;
  if (player.phase === Phase.RUNNING && run.clockStart !== undefined) {
    return Math.min(run.clockBaseMs + Math.floor(performance.now() - run.clockStart), player.endMs);
  }
  return run.timeMs ?? run.clockBaseMs ?? run.startMs;
}

// "1:05" for 65,000 ms.
export function clockText(ms) {
  const seconds = Math.max(0, Math.floor(ms / 1000));
  return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
}

export function sizeText(index) {
  const { width, height } = parts.scales.list[index];
  return `${width}×${height}`;
}
