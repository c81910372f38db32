// Loads the WebAssembly module once: reads demo.wasm (with progress),
// compiles it, and instantiates it here through the emscripten loader
// (demo.js, which defines createDemoModule). The compiled module is handed on
// to the synthesizer's Worker, which instantiates its own copy without a
// second download.
import { binaryPart, loadScript } from './page_parts.js';

// Reads and compiles demo.wasm; onProgress(received, total) follows the
// download (total is 0 when the server does not say).
export async function compileDemoWasm(onProgress) {
  const bytes = await binaryPart('demo.wasm', onProgress);
  return WebAssembly.compile(bytes);
}

// An instance of the compiled module with the emscripten runtime around it.
export async function instantiateDemo(module) {
  if (typeof createDemoModule !== 'function') await loadScript('demo.js');
  return new Promise((resolve, reject) => {
    createDemoModule({
      instantiateWasm(imports, receiveInstance) {
        WebAssembly.instantiate(module, imports).then(
          (instance) => receiveInstance(instance, module), reject);
        return {};
      },
      onAbort: (what) => reject(new Error(`the WebAssembly module stopped: ${what}`)),
    }).then(resolve, reject);
  });
}

// The internal resolutions, as the module lists them: `list` holds
// { index, name, width, height }, finest first; a scale is named by its index
// everywhere else. Also the module's shader text functions and the
// governor that chooses the scale from frame times (ScaleGovernor).
export class SceneScales {
  constructor(demo) {
    this.demo = demo;
    this.list = [];
    for (let index = 0; index < demo._sceneScaleCount(); index++) {
      this.list.push({
        index,
        name: demo.UTF8ToString(demo._sceneScaleName(index)),
        width: demo._sceneScaleWidth(index),
        height: demo._sceneScaleHeight(index),
      });
    }
    this.coarsest = this.list.length - 1;
  }

  withString(text, use) {
    const size = this.demo.lengthBytesUTF8(text) + 1;
    const pointer = this.demo._malloc(size);
    if (!pointer) throw new Error('the WebAssembly module is out of memory');
    try {
      this.demo.stringToUTF8(text, pointer, size);
      return use(pointer);
    } finally {
      this.demo._free(pointer);
    }
  }

  // The index of the scale that `text` names (as the desktop's --scale reads
  // it), or -1.
  parse(text) {
    return this.withString(text, (pointer) => this.demo._sceneScaleIndex(pointer));
  }

  // The names for messages: "1, 864p, 720p, 2, 3, 4 or 6".
  names() {
    return this.demo.UTF8ToString(this.demo._sceneScaleList());
  }

  // The shader text that draws the same pixels at scale `index`.
  scaledText(source, index) {
    return this.withString(source, (pointer) => {
      const result = this.demo._scaledSceneAt(pointer, index);
      if (!result) throw new Error('the WebAssembly module is out of memory');
      try {
        return this.demo.UTF8ToString(result);
      } finally {
        this.demo._free(result);
      }
    });
  }

  // The scale whose frames a probe predicts to fit the frame budget: a
  // frame of `pixels` pixels drawn (and waited for) in `seconds`.
  predict(seconds, pixels) {
    return this.demo._scaleGovernorPredict(seconds, pixels);
  }

  // A governor whose first frame is at `index`; see ScaleGovernor.
  governor(index, adaptive) {
    return new ScaleGovernor(this.demo, this.demo._scaleGovernorCreate(index, adaptive ? 1 : 0));
  }

  // An adaptive governor whose first frame is at the scale that the probe
  // predicts (its step()).
  governorAfterProbe(seconds, pixels) {
    return new ScaleGovernor(this.demo, this.demo._scaleGovernorCreateAfterProbe(seconds, pixels));
  }
}

// The desktop's scale policy (core/resolution/scale_governor.h) in the
// module: it is told how long each frame took and answers the scale of the
// next.
class ScaleGovernor {
  constructor(demo, pointer) {
    this.demo = demo;
    this.pointer = pointer;
    if (!this.pointer) throw new Error('the WebAssembly module is out of memory');
  }

  // The scale of the next frame.
  step() {
    return this.demo._scaleGovernorStep(this.pointer);
  }

  // A frame took `seconds` and ended at `now` (seconds); returns the index
  // of the scale for the next frame.
  frameDone(now, seconds) {
    return this.demo._scaleGovernorFrameDone(this.pointer, now, seconds);
  }

  // True once, when the first frames at a fixed full resolution were slow.
  takeSlowStartHint() {
    return this.demo._scaleGovernorTakeSlowStartHint(this.pointer) !== 0;
  }

  slowStartMs() {
    return this.demo._scaleGovernorSlowStartMs();
  }

  destroy() {
    if (this.pointer) this.demo._scaleGovernorDestroy(this.pointer);
    this.pointer = 0;
  }
}
