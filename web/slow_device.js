// A device too slow for the demo's pictures is told so, once a page: where
// even the smallest picture would take longer than SLOW_MS, one quiet line
// ("This device draws about one picture every 2 s without a graphics card;
// the sound plays on."). The time of the smallest picture is the latest
// frames' time per pixel times its pixels, whatever scale they were drawn at.
import { player, parts, changed } from './player_state.js';

const SLOW_MS = 500;
// Renderers that draw on the processor.
const SOFTWARE = /SwiftShader|llvmpipe|softpipe|Software|Microsoft Basic Render/i;

let told = false;

// Whether the page's WebGL draws without a graphics card.
function drawnBySoftware(gl) {
  const info = gl.getExtension('WEBGL_debug_renderer_info');
  const renderer = info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : gl.getParameter(gl.RENDERER);
  return SOFTWARE.test(String(renderer));
}

// "2 s", "0.8 s".
function secondsText(ms) {
  const seconds = ms / 1000;
  return seconds < 1.5 ? `${seconds.toFixed(1)} s` : `${Math.round(seconds)} s`;
}

// After each frame of `run` drawn over `pixels` pixels in `ms` (the
// drawing's own time, summed over its bands).
export function frameDrawn(run, pixels, ms) {
  // Not over a line that waits for the viewer; and not from the first
  // frames, which may wait for the shader's last compiling.
  if (told || pixels <= 0 || run.frames < 3 || (player.notice && player.noticeStays)) return;
  const smallest = parts.scales.list[parts.scales.coarsest];
  const smallestMs = ms * (smallest.width * smallest.height) / pixels;
  if (smallestMs <= SLOW_MS) return;
  told = true;
  const how = drawnBySoftware(parts.renderer.gl) ? ' without a graphics card' : '';
  player.notice = `This device draws about one picture every ${secondsText(smallestMs)}${how}; the sound plays on.`;
  player.noticeStays = false;
  changed('notice');
}
