// The song player, an AudioWorkletProcessor on the audio thread. It plays
// the song's frames from `startFrame` on, one render quantum after another,
// taking each frame from the pieces that the synthesizer's Worker has sent
// (through the port handed over in a { type: 'source', port } message) and
// playing silence for any frame that has not arrived when its turn comes. It
// never waits and never repeats: the play position moves on by every frame
// played, and a piece that arrives after its frames' turn is dropped. After
// the song's last frame it plays silence.
//
// To the page, through its own port: { type: 'first-sound', contextTime }
// when the first rendered frame is played (contextTime: the time of that
// frame on the AudioContext's clock), and every second { type: 'status',
// position, silentFrames } (frames played as silence for want of a rendered
// frame, before the song's end).
class SongPlayer extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { startFrame, songFrames } = options.processorOptions;
    this.position = startFrame;
    this.songFrames = songFrames;
    this.pieces = [];      // in order, none ending at or before `position`
    this.silentFrames = 0;
    this.soundStarted = false;
    this.lastStatus = 0;
    this.port.onmessage = (event) => {
      if (event.data.type === 'source') {
        event.data.port.onmessage = (piece) => this.receive(piece.data);
      }
    };
  }

  receive({ first, samples }) {
    if (first + samples.length / 2 > this.position) {
      this.pieces.push({ first, samples });
    }
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    const frames = left.length;
    let played = 0;
    let firstPlayed = -1;
    for (let i = 0; i < frames; i++) {
      const frame = this.position + i;
      while (this.pieces.length && this.pieces[0].first + this.pieces[0].samples.length / 2 <= frame) {
        this.pieces.shift();
      }
      const piece = this.pieces[0];
      if (piece && piece.first <= frame) {
        const at = (frame - piece.first) * 2;
        left[i] = piece.samples[at];
        right[i] = piece.samples[at + 1];
        if (firstPlayed < 0) firstPlayed = i;
        played++;
      } else {
        left[i] = 0;
        right[i] = 0;
        if (frame < this.songFrames) this.silentFrames++;
      }
    }
    if (played && !this.soundStarted) {
      this.soundStarted = true;
      this.port.postMessage({ type: 'first-sound', contextTime: currentTime + firstPlayed / sampleRate });
    }
    this.position += frames;
    if (currentTime - this.lastStatus >= 1) {
      this.lastStatus = currentTime;
      this.port.postMessage({ type: 'status', position: this.position, silentFrames: this.silentFrames });
    }
    return true;
  }
}

registerProcessor('song-player', SongPlayer);
