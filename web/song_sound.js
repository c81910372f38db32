// The sound of one run: an AudioContext at the song's 44,100 Hz, the song
// player worklet, a gain for the volume, and the synthesizer's Worker
// rendering the song from its first frame and sending every piece straight
// to the player (a MessageChannel between the two, so the page's own thread
// is not in the way), which keeps them for seeks back. Where the device runs
// at another rate, the browser resamples the context's output for it.
// At full volume the gain is exactly 1, which leaves every sample as it is.
import { workletUrl } from './page_parts.js';

export class SongSound {
  // `worker`: the synthesizer's Worker, already holding the module.
  // `songFrames` and `sampleRate`: the song's length and rate, from the module.
  constructor(worker, songFrames, sampleRate) {
    this.worker = worker;
    this.songFrames = songFrames;
    this.sampleRate = sampleRate;
    this.context = null;
    this.player = null;
    this.gain = null;
    this.level = 1;
    this.recorder = null;
    this.recording = null;
  }

  // Records the first `seconds` of the next run's output (after the volume;
  // or less, up to stopRecording()); resolves to { left, right } Float32Arrays.
  recordNextRun(seconds) {
    return new Promise((resolve) => {
      this.recording = { frames: Math.round(seconds * this.sampleRate), resolve };
    });
  }

  // Starts the sound from `startFrame`; the Worker's reports for it carry
  // `id`. Call it from the user's gesture: the context is made there.
  // `onEvent(message)` gets this player's answers and reports, `onLost(why)`
  // hears when the output stops without stop(): 'suspended' (the system
  // took it; resumeOutput() may get it back) or 'closed' and 'failed'.
  // Resolves once the player is connected and the context runs (true), or
  // when it has not started `waitMs` after the player was connected (false:
  // no sound device, or the browser keeps the page silent), or null when
  // stop() came first; `whenRunning` resolves whenever it starts. Rejects
  // when there is no sound here, the error naming the cause
  // (error.worklet: the player's code could not be loaded).
  async start(startFrame, waitMs, id, onEvent, onLost) {
    this.stop();
    const context = new AudioContext({ sampleRate: this.sampleRate, latencyHint: 'interactive' });
    this.context = context;
    const resumed = context.resume();
    let hasRun = false;
    this.whenRunning = new Promise((resolve) => {
      const check = () => {
        if (this.context !== context) return;
        if (context.state === 'running') {
          hasRun = true;
          resolve();
        } else if (context.state === 'closed') {
          onLost('closed');
        } else if (hasRun) {
          onLost('suspended');  // 'suspended', or Safari's 'interrupted'
        }
      };
      context.addEventListener('statechange', check);
      resumed.then(check, () => {});
      check();
    });
    // The renderer starts first (as on the desktop, where the render thread
    // starts before the sound device opens): its first pieces wait in the
    // channel while the player's code loads.
    const channel = new MessageChannel();
    this.worker.postMessage({ type: 'start', startFrame: 0, port: channel.port1, id }, [channel.port1]);
    const recording = this.recording;
    this.recording = null;
    try {
      await context.audioWorklet.addModule(workletUrl('player_worklet.js'));
      if (recording) await context.audioWorklet.addModule(workletUrl('recorder_worklet.js'));
    } catch (error) {
      if (this.context !== context) return null;
      this.stop();
      const failure = new Error(`the browser could not load the song player's code (${error.message})`);
      failure.worklet = true;
      throw failure;
    }
    if (this.context !== context) return null;

    const player = new AudioWorkletNode(context, 'song-player', {
      numberOfInputs: 0,
      numberOfOutputs: 1,
      outputChannelCount: [2],
      processorOptions: { startFrame, songFrames: this.songFrames },
    });
    player.port.onmessage = (event) => {
      if (this.player === player) onEvent(event.data);
    };
    player.onprocessorerror = () => {
      if (this.player === player) onLost('failed');
    };
    this.player = player;
    const gain = new GainNode(context, { gain: this.level });
    this.gain = gain;
    if (recording) {
      const recorder = new AudioWorkletNode(context, 'sound-recorder', {
        numberOfInputs: 1,
        numberOfOutputs: 0,
        channelCount: 2,
        channelCountMode: 'explicit',
        channelInterpretation: 'discrete',
        processorOptions: { frames: recording.frames },
      });
      recorder.port.onmessage = (event) => recording.resolve(event.data);
      this.recorder = recorder;
      gain.connect(recorder);
    }

    player.port.postMessage({ type: 'source', port: channel.port2 }, [channel.port2]);
    player.connect(gain);
    gain.connect(context.destination);
    const waited = new Promise((resolve) => setTimeout(() => resolve(false), waitMs));
    return Promise.race([this.whenRunning.then(() => true), waited]);
  }

  // The output's gain from the next render quantum on (1: the samples as
  // they are, 0: silence); kept for the next runs.
  setLevel(level) {
    this.level = level;
    if (this.gain) this.gain.gain.value = level;
  }

  // Asks a suspended output to run again.
  resumeOutput() {
    if (this.context && this.context.state !== 'running') this.context.resume().catch(() => {});
  }

  // Ends the recording of this run now.
  stopRecording() {
    if (this.recorder) this.recorder.port.postMessage({ type: 'stop' });
  }

  // Silence from the next render quantum on, the song's position held; the
  // player answers { type: 'paused', position, played }.
  pause() {
    if (this.player) this.player.port.postMessage({ type: 'pause' });
  }

  // The song again from the position held (answered by 'resumed').
  resume() {
    if (this.player) this.player.port.postMessage({ type: 'resume' });
  }

  // The song from `frame` on (answered by 'seeked').
  seek(frame) {
    if (this.player) this.player.port.postMessage({ type: 'seek', frame });
  }

  // Whether a player takes commands (and answers them).
  get connected() {
    return this.player !== null;
  }

  // The context's output timestamp, to place context times on the page's clock.
  outputTimestamp() {
    return this.context ? this.context.getOutputTimestamp() : null;
  }

  // Ends the sound and the rendering at once; nothing of this run reports
  // any more.
  stop() {
    if (!this.context) return;
    this.worker.postMessage({ type: 'stop' });
    const context = this.context;
    this.context = null;
    this.player = null;
    this.gain = null;
    this.recorder = null;
    context.close().catch(() => {});
  }
}
