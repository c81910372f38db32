// The scene in WebGL2: the scene shader (GLSL ES 3.00, made at build time
// from the desktop text) over one rectangle that covers the drawing buffer,
// with the time in milliseconds in its uniform, as the desktop host hands it
// through the fog end. The drawing buffer is the picture at its internal
// resolution (1920x1080 divided by the scale); the page scales it to the
// screen.

const VERTEX_SHADER = `#version 300 es
// The rectangle from (-1, -1) to (1, 1), as a strip of four corners.
void main()
{
    vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1)) * 2.0 - 1.0;
    gl_Position = vec4(corner, 0.0, 1.0);
}
`;

// The uniform that carries the time (see shader/glsl_es_source.h).
const TIME_UNIFORM = 'fogEnd';

function compile(gl, type, text) {
  const shader = gl.createShader(type);
  gl.shaderSource(shader, text);
  gl.compileShader(shader);
  return shader;
}

export class SceneRenderer {
  // Starts compiling; ready() finishes. Compiling this shader takes seconds
  // on a software renderer, so where the browser compiles in the background
  // (KHR_parallel_shader_compile) ready() waits without blocking the page.
  constructor(gl, fragmentText) {
    this.gl = gl;
    this.parallel = gl.getExtension('KHR_parallel_shader_compile');
    this.vertex = compile(gl, gl.VERTEX_SHADER, VERTEX_SHADER);
    this.fragment = compile(gl, gl.FRAGMENT_SHADER, fragmentText);
    this.program = gl.createProgram();
    gl.attachShader(this.program, this.vertex);
    gl.attachShader(this.program, this.fragment);
    gl.linkProgram(this.program);
  }

  // Resolves when the program is linked; rejects with the compiler's log.
  async ready() {
    const gl = this.gl;
    if (this.parallel) {
      while (!gl.getProgramParameter(this.program, this.parallel.COMPLETION_STATUS_KHR)) {
        if (gl.isContextLost()) throw new Error('the graphics context was lost while the shader compiled');
        await new Promise((resolve) => setTimeout(resolve, 20));
      }
    }
    if (!gl.getProgramParameter(this.program, gl.LINK_STATUS)) {
      const log = [gl.getShaderInfoLog(this.fragment), gl.getShaderInfoLog(this.vertex),
        gl.getProgramInfoLog(this.program)].filter(Boolean).join('\n');
      throw new Error(`the scene shader does not compile here:\n${log}`);
    }
    gl.deleteShader(this.vertex);
    gl.deleteShader(this.fragment);
    this.timeLocation = gl.getUniformLocation(this.program, TIME_UNIFORM);
    gl.useProgram(this.program);
    gl.bindVertexArray(gl.createVertexArray());
    // Many drivers (SwiftShader among them) finish compiling only at the
    // first draw: one pixel drawn and read back now keeps that wait out of
    // the first frame of a run.
    this.draw(0, { x: 0, y: 0, width: 1, height: 1 });
    this.read({ x: 0, y: 0, width: 1, height: 1 });
  }

  // Draws the frame of `timeMs`. `rect` (x, y, width, height, top-left
  // origin, in drawing-buffer pixels) limits it to part of the picture.
  draw(timeMs, rect = null) {
    const gl = this.gl;
    const width = gl.drawingBufferWidth;
    const height = gl.drawingBufferHeight;
    gl.viewport(0, 0, width, height);
    if (rect) {
      gl.enable(gl.SCISSOR_TEST);
      gl.scissor(rect.x, height - rect.y - rect.height, rect.width, rect.height);
    } else {
      gl.disable(gl.SCISSOR_TEST);
    }
    gl.uniform1f(this.timeLocation, timeMs);
    gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
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
