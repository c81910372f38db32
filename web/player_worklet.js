// The song player, an AudioWorkletProcessor on the audio thread. It plays
// the song's frames from `startFrame` on, one render quantum after another,
// taking each frame from the pieces that the synthesizer's Worker has sent
// (through the port handed over in a { type: 'source', port } message: the
// song from its first frame on, piece after piece) and playing silence for
// any frame that has not arrived when its turn comes. It never waits and
// never repeats: the play position moves on by every frame played. Pieces
// stay once they have arrived, so a seek back finds its frames at once.
// After the song's last frame it plays silence.
//
// Messages from the page, through its own port, each taking effect from the
// next render quantum:
//   { type: 'pause' }   silence from here on, the position held; answered by
//                       { type: 'paused', position, played }
//   { type: 'resume' }  playing again from the position held; answered by
//                       { type: 'resumed', position, played }
//   { type: 'seek', frame }  the position moves to `frame`; answered by
//                       { type: 'seeked', position, played }
// (position: the next song frame to play; played: the frames output so far,
// silence included, so the answer's place in the output is known).
// To the page: { type: 'first-sound', contextTime } when the first rendered
// frame is played (contextTime: the time of that frame on the AudioContext's
// clock), and every second { type: 'status', position, silentFrames }
// (frames played as silence for want of a rendered frame, before the song's
// end; the silence of a pause is not counted).
class SongPlayer extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { startFrame, songFrames } = options.processorOptions;
    this.position = startFrame;
    this.songFrames = songFrames;
    // Arrived pieces in order: starts[i] is the first frame of pieces[i].
    this.starts = [];
    this.pieces = [];
    this.cursor = 0;       // the piece that held the latest frame played
    this.played = 0;
    this.paused = false;
    this.silentFrames = 0;
    this.soundStarted = false;
    this.lastStatus = 0;
    this.port.onmessage = (event) => this.command(event.data);
  }

  command(message) {
    if (message.type === 'source') {
      message.port.onmessage = (piece) => this.receive(piece.data);
    } else if (message.type === 'pause') {
      this.paused = true;
      this.answer('paused');
    } else if (message.type === 'resume') {
      this.paused = false;
      this.answer('resumed');
    } else if (message.type === 'seek') {
      this.position = message.frame;
      this.answer('seeked');
    }
  }

  answer(type) {
    this.port.postMessage({ type, position: this.position, played: this.played });
  }

  receive({ first, samples }) {
    this.starts.push(first);
    this.pieces.push(samples);
  }

  // The index of the piece that holds `frame`, or -1.
  find(frame) {
    const { starts, pieces } = this;
    const holds = (i) => i >= 0 && i < pieces.length && starts[i] <= frame && frame < starts[i] + pieces[i].length / 2;
    if (holds(this.cursor)) return this.cursor;
    if (holds(this.cursor + 1)) return ++this.cursor;
    let low = 0;
    let high = pieces.length - 1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      if (starts[middle] > frame) high = middle - 1;
      else if (starts[middle] + pieces[middle].length / 2 <= frame) low = middle + 1;
      else return (this.cursor = middle);
    }
    return -1;
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    const frames = left.length;
    this.played += frames;
    if (this.paused) {
      left.fill(0);
      right.fill(0);
      return true;
    }
    let played = 0;
    let firstPlayed = -1;
    for (let i = 0; i < frames; i++) {
      const frame = this.position + i;
      const at = this.find(frame);
      if (at >= 0) {
        const offset = (frame - this.starts[at]) * 2;
        left[i] = this.pieces[at][offset];
        right[i] = this.pieces[at][offset + 1];
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
