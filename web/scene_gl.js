// The scene in WebGL2: the scene shader (GLSL ES 3.00, made at build time
// from the desktop text) over one rectangle that covers the drawing buffer,
// with the time in milliseconds in its uniform, as the desktop host hands it
// through the fog end. The drawing buffer is the picture at its internal
// resolution (the canvas's size); the page scales it to the screen. Each
// scale has a program of its own (its text reads the pixel position of the
// full picture), built when first asked for. Building one draws a pixel of
// the canvas: build before drawing a frame, not after.
//
// A run's frames (drawn in bands where slow: several draws, each in a task
// of its own) go to an offscreen buffer first and are copied to the canvas
// once whole: the canvas shows each frame complete, never a band of it. Two
// offscreen buffers take turns, one drawn into and one holding the picture
// shown last, which is copied back to the canvas wherever something else
// draws there (a new program's first pixel), so that the canvas, whose
// drawing buffer the browser clears once it has shown it, never shows
// that cleared buffer.
// Every pixel comes out as the one draw would make it: the shader reads
// only the pixel's position and the time. A change of scale that keeps the
// picture (a run's) waits with the canvas's new size until the first frame
// at that size is whole: that frame is drawn offscreen, and the canvas is
// resized and given it in one task, so the last picture stays (scaled by the
// page) until then and the canvas is never seen cleared.

const VERTEX_SHADER = `#version 300 es
// The rectangle from (-1, -1) to (1, 1), as a strip of four corners.
void main()
{
    vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1)) * 2.0 - 1.0;
    gl_Position = vec4(corner, 0.0, 1.0);
}
`;

// The uniform that carries the time (see shader/glsl_es_source.h).
const TIME_UNIFORM = 'timeMs';

const ONE_PIXEL = { x: 0, y: 0, width: 1, height: 1 };

function compile(gl, type, text) {
  const shader = gl.createShader(type);
  gl.shaderSource(shader, text);
  gl.compileShader(shader);
  return shader;
}

export class SceneRenderer {
  // `fragmentText(index)` gives the shader text of the scale `index`.
  constructor(gl, fragmentText) {
    this.gl = gl;
    this.fragmentText = fragmentText;
    this.parallel = gl.getExtension('KHR_parallel_shader_compile');
    this.programs = new Map();  // index -> { program, vertex, fragment, linked, error }
    this.current = null;
    this.buffers = [null, null];  // each { framebuffer, renderbuffer, width, height }
    this.drawn = 0;  // the buffer that frames are drawn into
    this.shown = null;  // the buffer whose picture the canvas shows, if any
    this.pendingSize = null;  // { width, height } the canvas takes at the next showOffscreen()
    gl.bindVertexArray(gl.createVertexArray());
  }

  // Starts building the program of scale `index`, if not begun yet.
  prepare(index) {
    if (this.programs.has(index)) return;
    const gl = this.gl;
    const entry = {
      vertex: compile(gl, gl.VERTEX_SHADER, VERTEX_SHADER),
      fragment: compile(gl, gl.FRAGMENT_SHADER, this.fragmentText(index)),
      program: gl.createProgram(),
      linked: false,
      error: null,
    };
    gl.attachShader(entry.program, entry.vertex);
    gl.attachShader(entry.program, entry.fragment);
    gl.linkProgram(entry.program);
    this.programs.set(index, entry);
  }

  // Whether the program of `index` is built (or has failed); never waits
  // where the browser compiles in the background (KHR_parallel_shader_compile).
  settled(index) {
    this.prepare(index);
    const entry = this.programs.get(index);
    if (entry.linked || entry.error) return true;
    if (this.parallel && !this.gl.getProgramParameter(entry.program, this.parallel.COMPLETION_STATUS_KHR)) {
      return false;
    }
    this.finishBuilding(entry);
    return true;
  }

  // Whether `index` can be drawn (settled and built).
  usable(index) {
    return this.settled(index) && this.programs.get(index).linked;
  }

  finishBuilding(entry) {
    const gl = this.gl;
    if (!gl.getProgramParameter(entry.program, gl.LINK_STATUS)) {
      const log = [gl.getShaderInfoLog(entry.fragment), gl.getShaderInfoLog(entry.vertex),
        gl.getProgramInfoLog(entry.program)].filter(Boolean).join('\n');
      entry.error = new Error(`the scene shader does not compile here:\n${log}`);
      return;
    }
    gl.deleteShader(entry.vertex);
    gl.deleteShader(entry.fragment);
    entry.timeLocation = gl.getUniformLocation(entry.program, TIME_UNIFORM);
    entry.linked = true;
    // Many drivers (SwiftShader among them) finish compiling only at the
    // first draw, for the framebuffer drawn into: one pixel of the canvas
    // drawn and read back now keeps that wait out of the first frame drawn
    // with the program (which draws over that pixel).
    gl.useProgram(entry.program);
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    gl.viewport(0, 0, gl.drawingBufferWidth, gl.drawingBufferHeight);
    gl.enable(gl.SCISSOR_TEST);
    gl.scissor(0, 0, 1, 1);
    gl.uniform1f(entry.timeLocation, 0);
    gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
    if (this.current) gl.useProgram(this.current.program);
    this.showAgain();
  }

  // Resolves when the program of `index` is built; rejects with the
  // compiler's log. Waits without blocking the page where it can.
  async ready(index) {
    while (!this.settled(index)) {
      if (this.gl.isContextLost()) throw new Error('the graphics context was lost while the shader compiled');
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
    const entry = this.programs.get(index);
    if (entry.error) throw entry.error;
  }

  // Draws from now on with the (built) program of `index` into a drawing
  // buffer of width x height; `keepPicture`: the canvas keeps its picture
  // until a frame of the new size is drawn (offscreen) and shown.
  use(index, width, height, keepPicture = false) {
    const entry = this.programs.get(index);
    if (!entry || !entry.linked) throw new Error(`the program of scale ${index} is not built`);
    const canvas = this.gl.canvas;
    this.pendingSize = null;
    if (keepPicture && (canvas.width !== width || canvas.height !== height)) {
      this.pendingSize = { width, height };
    } else if (!keepPicture) {
      this.shown = null;
      if (canvas.width !== width) canvas.width = width;
      if (canvas.height !== height) canvas.height = height;
    }
    this.current = entry;
    this.gl.useProgram(entry.program);
  }

  // Whether the next frame must go offscreen (a new size waits for it).
  get resizing() {
    return this.pendingSize !== null;
  }

  // Draws the frame of `timeMs`. `rect` (x, y, width, height, top-left
  // origin, in drawing-buffer pixels) limits it to part of the picture;
  // `offscreen` draws into the offscreen buffer instead of the canvas (as
  // every draw does while a new size waits).
  draw(timeMs, rect = null, offscreen = false) {
    const gl = this.gl;
    const toOffscreen = offscreen || this.resizing;
    gl.bindFramebuffer(gl.DRAW_FRAMEBUFFER, toOffscreen ? this.offscreenBuffer() : null);
    const { width, height } = this.drawnSize();
    gl.viewport(0, 0, width, height);
    if (rect) {
      gl.enable(gl.SCISSOR_TEST);
      gl.scissor(rect.x, height - rect.y - rect.height, rect.width, rect.height);
    } else {
      gl.disable(gl.SCISSOR_TEST);
    }
    gl.uniform1f(this.current.timeLocation, timeMs);
    gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
  }

  // The size frames are drawn at: the canvas's, or the one waiting for it.
  drawnSize() {
    return this.pendingSize || { width: this.gl.drawingBufferWidth, height: this.gl.drawingBufferHeight };
  }

  // The offscreen framebuffer drawn into, of the drawn size.
  offscreenBuffer() {
    const gl = this.gl;
    const { width, height } = this.drawnSize();
    let target = this.buffers[this.drawn];
    if (target && target.width === width && target.height === height) return target.framebuffer;
    if (target) {
      gl.deleteFramebuffer(target.framebuffer);
      gl.deleteRenderbuffer(target.renderbuffer);
    }
    target = { framebuffer: gl.createFramebuffer(), renderbuffer: gl.createRenderbuffer(), width, height };
    gl.bindRenderbuffer(gl.RENDERBUFFER, target.renderbuffer);
    gl.renderbufferStorage(gl.RENDERBUFFER, gl.RGBA8, width, height);
    gl.bindFramebuffer(gl.DRAW_FRAMEBUFFER, target.framebuffer);
    gl.framebufferRenderbuffer(gl.DRAW_FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.RENDERBUFFER, target.renderbuffer);
    this.buffers[this.drawn] = target;
    return target.framebuffer;
  }

  // Copies the offscreen buffer (a frame drawn in bands, or the first at a
  // new size, which the canvas takes now) to the canvas.
  showOffscreen() {
    const gl = this.gl;
    if (this.pendingSize) {
      gl.canvas.width = this.pendingSize.width;
      gl.canvas.height = this.pendingSize.height;
      this.pendingSize = null;
    }
    this.shown = this.drawn;
    this.drawn = 1 - this.drawn;
    this.showAgain();
  }

  // Copies the picture shown last to the canvas (scaled, where the canvas
  // has another size by now).
  showAgain() {
    if (this.shown === null) return;
    const gl = this.gl;
    const { framebuffer, width, height } = this.buffers[this.shown];
    gl.bindFramebuffer(gl.READ_FRAMEBUFFER, framebuffer);
    gl.bindFramebuffer(gl.DRAW_FRAMEBUFFER, null);
    gl.disable(gl.SCISSOR_TEST);
    const toWidth = gl.drawingBufferWidth;
    const toHeight = gl.drawingBufferHeight;
    const filter = toWidth === width && toHeight === height ? gl.NEAREST : gl.LINEAR;
    gl.blitFramebuffer(0, 0, width, height, 0, 0, toWidth, toHeight, gl.COLOR_BUFFER_BIT, filter);
    gl.bindFramebuffer(gl.READ_FRAMEBUFFER, null);
  }

  // Waits until the drawing so far is done (by reading one pixel back).
  finish() {
    this.read(ONE_PIXEL);
  }

  // The RGBA bytes of `rect` (top-left origin), rows top first; waits for the
  // drawing to finish.
  read(rect) {
    const gl = this.gl;
    const { x, y, width, height } = rect;
    const rows = new Uint8Array(width * height * 4);
    gl.readPixels(x, gl.drawingBufferHeight - y - height, width, height, gl.RGBA, gl.UNSIGNED_BYTE, rows);
    const topDown = new Uint8Array(rows.length);
    const stride = width * 4;
    for (let row = 0; row < height; row++) {
      topDown.set(rows.subarray((height - 1 - row) * stride, (height - row) * stride), row * stride);
    }
    return topDown;
  }
}
