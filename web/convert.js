// Converts a script file into its page with the module's converter: the
// file is read as a stream, a block at a time, and the page is gathered as
// Blob parts, so that neither the script nor the page is ever held whole in
// one string or buffer. Runs in the page's worker, and under node in the tests.

// Where the file says it is no script, nothing is converted: an empty file,
// or one with a NUL byte among its first bytes (as every image, archive or
// word processor's document has), unless it is UTF-16, whose text has them
// (with its mark, or without it as the decoder tells it).
// (Even after a 0x1A: a PNG image has one before its first NUL.)
const SNIFFED_BYTES = 8192;
// The page's bytes are moved out of the JavaScript heap into a Blob this often.
const BLOB_PART_BYTES = 16 * 1024 * 1024;
// How much of a larger page the preview shows.
const PREVIEW_BYTES = 1024 * 1024;
// The script goes into the module's memory this much at a time.
const FEED_BYTES = 1024 * 1024;
const ENCODINGS = ['Shift-JIS', 'UTF-8', 'UTF-16', 'UTF-16', 'EUC-JP', 'ISO-2022-JP'];

function notAScript(taletab, head) {
  if (head.length === 0) return 'empty';
  const utf16 = head.length >= 2 && ((head[0] === 0xff && head[1] === 0xfe) || (head[0] === 0xfe && head[1] === 0xff));
  return !utf16 && head.includes(0) && !utf16WithoutMark(taletab, head) ? 'binary' : null;
}

// UTF-16 without its mark, as the module's decoder tells it from the first bytes.
function utf16WithoutMark(taletab, head) {
  const pointer = taletab._malloc(head.length);
  try {
    taletab.HEAPU8.set(head, pointer);
    return taletab._taletab_utf16_without_mark(pointer, head.length) === 1;
  } finally {
    taletab._free(pointer);
  }
}

// Copies a JavaScript string into the module's memory as UTF-16 code units.
function utf16In(taletab, text) {
  const pointer = taletab._malloc(Math.max(2 * text.length, 2));
  const units = new Uint16Array(taletab.HEAPU8.buffer, pointer, text.length);
  for (let i = 0; i < text.length; i++) units[i] = text.charCodeAt(i);
  return [pointer, text.length];
}

// The page of `file` (a Blob) for `details` ({title, author, address}).
// `onProgress(bytesRead)` is called after each block. Resolves to
// {page, preview, partial, encoding, doubtful, rows, unreadable} where page and preview
// are Blobs of type text/html;charset=Shift_JIS, the preview showing only the
// page's beginning where `partial`; or to {error: 'empty' | 'binary'} for a
// file that is no script.
async function convertScript(taletab, file, details, onProgress = () => {}) {
  const head = new Uint8Array(await file.slice(0, SNIFFED_BYTES).arrayBuffer());
  const refused = notAScript(taletab, head);
  if (refused) return {error: refused};

  const type = 'text/html;charset=Shift_JIS';
  // The page goes through one buffer into Blobs of BLOB_PART_BYTES: a
  // Blob costs the more the more parts it is made of, and a buffer per block
  // would cost an allocation each.
  const blobs = [];
  const staging = new Uint8Array(BLOB_PART_BYTES);
  let staged = 0;
  const preview = new Uint8Array(PREVIEW_BYTES);
  let previewed = 0;
  taletab.takeBlock = (block) => {
    if (previewed < PREVIEW_BYTES) {
      const taken = block.subarray(0, PREVIEW_BYTES - previewed);
      preview.set(taken, previewed);
      previewed += taken.length;
    }
    if (staged + block.length > staging.length) {
      blobs.push(new Blob([staging.subarray(0, staged)]));
      staged = 0;
    }
    staging.set(block, staged);
    staged += block.length;
  };

  const texts = [details.title, details.author || '', details.address || ''].map((text) => utf16In(taletab, text));
  const converter = taletab._taletab_create(...texts.flat());
  for (const [pointer] of texts) taletab._free(pointer);
  const input = taletab._malloc(FEED_BYTES);
  try {
    const reader = file.stream().getReader();
    let read = 0;
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      for (let at = 0; at < value.length && !taletab._taletab_done(converter); at += FEED_BYTES) {
        const block = value.subarray(at, at + FEED_BYTES);
        taletab.HEAPU8.set(block, input);
        taletab._taletab_feed(converter, input, block.length);
      }
      read += value.length;
      onProgress(read);
      if (taletab._taletab_done(converter)) {
        await reader.cancel();  // a 0x1A ended the script: the rest is not read
        break;
      }
    }
    taletab._taletab_finish(converter);
    blobs.push(new Blob([staging.subarray(0, staged)]));
    const page = new Blob(blobs, {type});
    return {
      page,
      preview: page.size > PREVIEW_BYTES ? new Blob([toLastLine(preview)], {type}) : page,
      partial: page.size > PREVIEW_BYTES,
      encoding: ENCODINGS[taletab._taletab_encoding(converter)],
      doubtful: taletab._taletab_encoding_doubtful(converter) === 1,
      rows: taletab._taletab_rows(converter),
      unreadable: taletab._taletab_unreadable(converter),
    };
  } finally {
    taletab._free(input);
    taletab._taletab_destroy(converter);
    taletab.takeBlock = null;
  }
}

// The bytes up to the end of their last line (an LF is never part of a
// Shift-JIS character, so no character is cut).
function toLastLine(bytes) {
  return bytes.subarray(0, bytes.lastIndexOf(0x0a) + 1);
}

if (typeof module !== 'undefined') module.exports = {convertScript};
