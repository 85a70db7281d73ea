// The page's worker: converts the file it is sent and posts back the result,
// with progress on the way. Each conversion has a worker of its own, which
// the page ends when the conversion is no longer wanted.
// The module is compiled at once, as the worker starts; awaited below all the same.
const module_ = createTaletab();
const PROGRESS_EVERY_MS = 50;

self.onmessage = async ({data: {file, details}}) => {
  try {
    const taletab = await module_;
    let reported = 0;
    const result = await convertScript(taletab, file, details, (read) => {
      const now = Date.now();
      if (now - reported >= PROGRESS_EVERY_MS) {
        reported = now;
        self.postMessage({progress: read / file.size});
      }
    });
    self.postMessage({result});
  } catch (error) {
    // A script the module's memory cannot hold (a line of hundreds of megabytes, say) ends here.
    self.postMessage({result: {error: 'failed', detail: String(error)}});
  }
};
