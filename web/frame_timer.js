// How long the graphics card took for a draw, learned without waiting for
// it: the main thread never blocks on the drawing during a run, so keys,
// clicks and the page's own calls are answered while a frame is drawn.
// Where the browser offers GPU timer queries (EXT_disjoint_timer_query_webgl2)
// the time is the card's own; elsewhere a fence follows the draw and is
// polled from later tasks, and the time is from the draw's call to the first
// poll that finds the fence passed.

export class FrameTimer {
  constructor(gl) {
    this.gl = gl;
    this.timerQuery = gl.getExtension('EXT_disjoint_timer_query_webgl2');
    this.kind = this.timerQuery ? 'timer query' : 'fence';
  }

  // Call before the draw; returns the mark that end() and poll() take.
  begin() {
    const mark = { issued: performance.now(), query: null, fence: null };
    if (this.timerQuery) {
      mark.query = this.gl.createQuery();
      this.gl.beginQuery(this.timerQuery.TIME_ELAPSED_EXT, mark.query);
    }
    return mark;
  }

  // Call after the draw.
  end(mark) {
    const gl = this.gl;
    if (mark.query) gl.endQuery(this.timerQuery.TIME_ELAPSED_EXT);
    mark.fence = gl.fenceSync(gl.SYNC_GPU_COMMANDS_COMPLETE, 0);
    gl.flush();
  }

  // The draw's time in milliseconds once it is done; undefined while not.
  poll(mark) {
    const gl = this.gl;
    if (gl.isContextLost()) return undefined;
    const now = performance.now();
    if (mark.query) {
      if (!gl.getQueryParameter(mark.query, gl.QUERY_RESULT_AVAILABLE)) return undefined;
      // A disjoint interval (the card's clock was interrupted) makes the
      // result meaningless: the wall time stands in for it.
      const disjoint = gl.getParameter(this.timerQuery.GPU_DISJOINT_EXT);
      const ms = disjoint ? now - mark.issued : gl.getQueryParameter(mark.query, gl.QUERY_RESULT) / 1e6;
      this.release(mark);
      return ms;
    }
    if (gl.getSyncParameter(mark.fence, gl.SYNC_STATUS) !== gl.SIGNALED) return undefined;
    this.release(mark);
    return now - mark.issued;
  }

  // Forgets a mark (a draw whose time no longer matters).
  release(mark) {
    if (mark.query) this.gl.deleteQuery(mark.query);
    if (mark.fence) this.gl.deleteSync(mark.fence);
    mark.query = null;
    mark.fence = null;
  }
}
