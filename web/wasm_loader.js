// Loads the WebAssembly module once: fetches demo.wasm with progress,
// compiles it, and instantiates it here through the emscripten loader
// (demo.js, which defines createDemoModule). The compiled module is handed on
// to the synthesizer's Worker, which instantiates its own copy without a
// second download.

// Fetches and compiles demo.wasm; onProgress(received, total) follows the
// download (total is 0 when the server does not say).
export async function compileDemoWasm(onProgress) {
  const response = await fetch('demo.wasm');
  if (!response.ok) {
    throw new Error(`demo.wasm could not be loaded (HTTP ${response.status})`);
  }
  const total = Number(response.headers.get('Content-Length')) || 0;
  const reader = response.body.getReader();
  const chunks = [];
  let received = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    chunks.push(value);
    received += value.length;
    onProgress(received, total);
  }
  const bytes = new Uint8Array(received);
  let at = 0;
  for (const chunk of chunks) {
    bytes.set(chunk, at);
    at += chunk.length;
  }
  return WebAssembly.compile(bytes);
}

// An instance of the compiled module with the emscripten runtime around it.
export function instantiateDemo(module) {
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

// The module's text functions, with strings copied in and out of its memory.
export class SceneText {
  constructor(demo) {
    this.demo = demo;
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

  // The scale that `text` names (as the desktop's --scale reads it), or 0.
  parseScale(text) {
    return this.withString(text, (pointer) => this.demo._sceneScale(pointer));
  }

  // "1, 2, 3, 4 or 6".
  scaleList() {
    return this.demo.UTF8ToString(this.demo._sceneScaleList());
  }

  // The shader text that draws the same pixels at `scale`.
  scaled(source, scale) {
    return this.withString(source, (pointer) => {
      const result = this.demo._scaledScene(pointer, scale);
      if (!result) throw new Error('the WebAssembly module is out of memory');
      try {
        return this.demo.UTF8ToString(result);
      } finally {
        this.demo._free(result);
      }
    });
  }
}
