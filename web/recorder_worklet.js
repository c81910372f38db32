// A recorder of the sound graph, for tests and measurements: an
// AudioWorkletProcessor that copies the first `frames` frames of its input
// (the song player's output) and posts them as { left, right }
// (Float32Arrays) through its port, then stops; a { type: 'stop' } message
// through the port makes it post what it has so far at once.
class SoundRecorder extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { frames } = options.processorOptions;
    this.left = new Float32Array(frames);
    this.right = new Float32Array(frames);
    this.filled = 0;
    this.port.onmessage = (event) => {
      if (event.data.type === 'stop') this.finish();
    };
  }

  finish() {
    if (!this.left) return;
    const left = this.left.slice(0, this.filled);
    const right = this.right.slice(0, this.filled);
    this.port.postMessage({ left, right }, [left.buffer, right.buffer]);
    this.left = null;
    this.right = null;
  }

  process(inputs) {
    if (!this.left) return false;
    const input = inputs[0];
    const count = Math.min(input.length ? input[0].length : 128, this.left.length - this.filled);
    if (input.length >= 2) {
      this.left.set(input[0].subarray(0, count), this.filled);
      this.right.set(input[1].subarray(0, count), this.filled);
    }
    this.filled += count;
    if (this.filled < this.left.length) return true;
    this.finish();
    return false;
  }
}

registerProcessor('sound-recorder', SoundRecorder);
