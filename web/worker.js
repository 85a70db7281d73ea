// The page's worker: converts the script whose blocks the page sends it (the
// page reads the file, which a worker cannot on a page opened from a file in
// every browser), then makes the head and foot for each edit of the page's
// details. Each script has a worker of its own, which the page ends when the
// script is no longer wanted.
// The module is compiled at once, as the worker starts; awaited below all the same.
const module_ = createTaletab();
let conversion = null;

// What the page is told of a failure: a part of the page not made, a Blob
// or a buffer (the page cannot be kept), the module's memory could not grow (a buffer not
// allocated, or the module aborted, as it does when an allocation fails), or anything else.
function failure(error) {
  if (error instanceof Unkept) return 'unkept';
  // A C++ exception leaves the module as a number (its address there); the
  // core throws only where an allocation failed.
  if (typeof error === 'number') return 'memory';
  return /memory|allocat|OOM|Aborted/i.test(String(error)) || error instanceof RangeError ? 'memory' : 'failed';
}

const handlers = {
  // The script's next block (an ArrayBuffer, handed over), and whether the
  // page is to be kept in buffers (see Conversion); answered with whether more are wanted.
  async block({block, buffers}) {
    const taletab = await module_;
    const bytes = new Uint8Array(block);
    if (!conversion) {
      const head = bytes.subarray(0, SNIFFED_BYTES);
      const refused = notAScript(taletab, head);
      const like = looksLike(head);
      // A word processor's document is told apart from other files that are no script.
      if (refused) return {refused: refused === 'binary' && like === 'document' ? 'document' : refused};
      conversion = new Conversion(taletab, {buffers});
      conversion.like = like;
    }
    return {fed: bytes.length, done: conversion.feed(bytes)};
  },
  // The script has ended: the rows, and what the page says about them. Their buffers are handed over.
  async end() {
    const converted = {...conversion.finish(), like: conversion.like};
    conversion.destroy();
    conversion = null;
    const buffers = new Set(converted.rows.filter((part) => !(part instanceof Blob)).map((part) => part.buffer));
    return {converted, handed: [...buffers]};
  },
  // The head and foot for the page's details ({title, author, address}).
  async frame(details) {
    return {frame: frameOf(await module_, details)};
  },
};

// A handler answers with what to post, and in `handed` what to hand over with it.
self.onmessage = async ({data: {kind, value, id}}) => {
  try {
    const {handed = [], ...said} = await handlers[kind](value);
    self.postMessage({id, ...said}, handed);
  } catch (error) {
    // A script the module's memory cannot hold (a line of hundreds of megabytes, say) ends here.
    self.postMessage({id, failed: failure(error), detail: String(error)});
  }
};
