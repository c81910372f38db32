// The sound of one run: an AudioContext at the song's 44,100 Hz, the song
// player worklet connected to its output, and the synthesizer's Worker
// rendering the song from its first frame and sending every piece straight
// to the player (a MessageChannel between the two, so the page's own thread
// is not in the way), which keeps them for seeks back. Where the device runs
// at another rate, the browser resamples the context's output for it.
import { workletUrl } from './page_parts.js';

export class SongSound {
  // `worker`: the synthesizer's Worker, already holding the module.
  // `onEvent(message)` gets the player's and the Worker's reports.
  // `songFrames` and `sampleRate`: the song's length and rate, from the module.
  constructor(worker, songFrames, sampleRate, onEvent) {
    this.worker = worker;
    this.songFrames = songFrames;
    this.sampleRate = sampleRate;
    this.onEvent = onEvent;
    this.context = null;
    this.player = null;
    this.recorder = null;
    this.recording = null;
  }

  // Records the first `seconds` of the next run's sound graph output (or
  // less, up to stopRecording()); resolves to { left, right } Float32Arrays.
  recordNextRun(seconds) {
    return new Promise((resolve) => {
      this.recording = { frames: Math.round(seconds * this.sampleRate), resolve };
    });
  }

  // Starts the sound from `startFrame`. Call it from the user's gesture: the
  // context is made there. Resolves once the player is connected and the
  // context runs (true), or when it has not started `waitMs` after the
  // player was connected (false: no sound device, or the browser keeps the
  // page silent); `whenRunning` resolves whenever it starts. Rejects when
  // there is no sound at 44,100 Hz here.
  async start(startFrame, waitMs) {
    this.stop();
    const context = new AudioContext({ sampleRate: this.sampleRate, latencyHint: 'interactive' });
    this.context = context;
    const resumed = context.resume();
    this.whenRunning = new Promise((resolve) => {
      const check = () => {
        if (context.state === 'running') resolve();
      };
      context.addEventListener('statechange', check);
      resumed.then(check, () => {});
      check();
    });
    // The renderer starts first (as on the desktop, where the render thread
    // starts before the sound device opens): its first pieces wait in the
    // channel while the player's code loads.
    const channel = new MessageChannel();
    this.worker.postMessage({ type: 'start', startFrame: 0, port: channel.port1 }, [channel.port1]);
    await context.audioWorklet.addModule(workletUrl('player_worklet.js'));
    const recording = this.recording;
    this.recording = null;
    if (recording) await context.audioWorklet.addModule(workletUrl('recorder_worklet.js'));
    if (this.context !== context) return;  // stopped meanwhile

    const player = new AudioWorkletNode(context, 'song-player', {
      numberOfInputs: 0,
      numberOfOutputs: 1,
      outputChannelCount: [2],
      processorOptions: { startFrame, songFrames: this.songFrames },
    });
    player.port.onmessage = (event) => this.onEvent(event.data);
    this.player = player;
    player.onprocessorerror = () => console.error('the song player stopped with an error');
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
      player.connect(recorder);
    }

    player.port.postMessage({ type: 'source', port: channel.port2 }, [channel.port2]);
    player.connect(context.destination);
    const waited = new Promise((resolve) => setTimeout(() => resolve(false), waitMs));
    return Promise.race([this.whenRunning.then(() => true), waited]);
  }

  // Ends the recording of this run now.
  stopRecording() {
    if (this.recorder) this.recorder.port.postMessage({ type: 'stop' });
  }

  // Silence from the next render quantum on, the song's position held; the
  // player answers { type: 'paused', position } through onEvent.
  pause() {
    if (this.player) this.player.port.postMessage({ type: 'pause' });
  }

  // The song again from the position held.
  resume() {
    if (this.player) this.player.port.postMessage({ type: 'resume' });
  }

  // The song from `frame` on (answered by { type: 'seeked', position }).
  seek(frame) {
    if (this.player) this.player.port.postMessage({ type: 'seek', frame });
  }

  // The context's output timestamp, to place context times on the page's clock.
  outputTimestamp() {
    return this.context ? this.context.getOutputTimestamp() : null;
  }

  // Ends the sound and the rendering at once.
  stop() {
    if (!this.context) return;
    this.worker.postMessage({ type: 'stop' });
    this.context.close();
    this.context = null;
    this.player = null;
    this.recorder = null;
  }
}
