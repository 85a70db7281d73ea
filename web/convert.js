// Converts a script into its page with the module's converter, fed a block
// at a time. The rows are converted once; the head and the foot, which alone
// hold the page's name, author and address, are made apart (frameOf), so
// that an edit of those needs no second conversion. The rows are gathered in
// parts of PART_BYTES, so that neither the script nor the page is ever held
// whole in one string or buffer: Blobs, which a browser may move out of its
// memory, for a page that is to be downloaded; or the buffers themselves,
// for a page that is to be written to a file part by part (copied into Blobs
// it would be copied twice). Runs in the page's worker, and under node in the tests.

// Where the file says it is no script, nothing is converted: an empty file,
// or one with a NUL byte among its first bytes (as every image, archive or
// word processor's document has), unless it is UTF-16, whose text has them
// (with its mark, or without it as the decoder tells it).
// (Even after a 0x1A: a PNG image has one before its first NUL.)
const SNIFFED_BYTES = 8192;
// The size of the page's parts (the last excepted).
const PART_BYTES = 16 * 1024 * 1024;
// The script goes into the module's memory this much at a time.
const FEED_BYTES = 1024 * 1024;
const PAGE_TYPE = 'text/html;charset=Shift_JIS';
const ENCODINGS = ['Shift-JIS', 'UTF-8', 'UTF-16', 'UTF-16', 'EUC-JP', 'ISO-2022-JP'];
const NO_DETAILS = {title: '', author: '', address: ''};

// What a part of the page that the browser would not make (a Blob or a
// buffer) is thrown as: the page could not be kept, told apart from the
// module's memory running out.
class Unkept extends Error {}

function kept(make) {
  try {
    return make();
  } catch (error) {
    throw new Unkept(String(error));
  }
}

// The bytes of a part of the page, a Blob or a Uint8Array.
const sizeOf = (part) => (part instanceof Blob ? part.size : part.byteLength);

// `parts` without their first `front` bytes and their last `back`.
function trimmed(parts, front, back) {
  const end = parts.reduce((sum, part) => sum + sizeOf(part), 0) - back;
  const out = [];
  let at = 0;
  for (const part of parts) {
    const size = sizeOf(part);
    const [from, to] = [Math.max(front - at, 0), Math.min(size, end - at)];
    if (to > from) out.push(from === 0 && to === size ? part : part instanceof Blob ? part.slice(from, to) : part.subarray(from, to));
    at += size;
  }
  return out;
}

// 'empty' or 'binary' for the first SNIFFED_BYTES of a file that is no script.
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

// What a file's first bytes say it may be besides a script: 'document' (a
// word processor's: Word's .docx, a zip, or its older .doc), 'rtf' or 'html'; or null.
function looksLike(head) {
  const starts = (...bytes) => bytes.every((byte, i) => head[i] === byte);
  if (starts(0x50, 0x4b, 0x03, 0x04) || starts(0xd0, 0xcf, 0x11, 0xe0)) return 'document';
  const text = String.fromCharCode(...head.subarray(0, 512)).replace(/^(\xef\xbb\xbf|\xff\xfe|\xfe\xff)/, '').replace(/\0/g, '');
  if (/^\{\\rtf/.test(text)) return 'rtf';
  if (/^\s*(<!doctype html|<html)/i.test(text)) return 'html';
  return null;
}

// Calls `take` with the module's C function's arguments for `details`
// ({title, author, address}): each text in the module's memory as UTF-16 code units.
function withDetails(taletab, details, take) {
  const texts = [details.title, details.author || '', details.address || ''].map((text) => {
    const pointer = taletab._malloc(Math.max(2 * text.length, 2));
    const units = new Uint16Array(taletab.HEAPU8.buffer, pointer, text.length);
    for (let i = 0; i < text.length; i++) units[i] = text.charCodeAt(i);
    return [pointer, text.length];
  });
  try {
    return take(texts.flat());
  } finally {
    for (const [pointer] of texts) taletab._free(pointer);
  }
}

// The head and the foot of the page for `details`, as bytes.
function frameOf(taletab, details) {
  const parts = [];
  taletab.takeBlock = (block) => parts.push(block.slice());
  try {
    withDetails(taletab, details, (args) => taletab._taletab_frame(...args));
  } finally {
    taletab.takeBlock = null;
  }
  const [head, foot] = parts;
  return {head, foot};
}

// The page: the rows (parts) between the head and the foot for `details`.
function pageOf(taletab, rows, details) {
  const {head, foot} = frameOf(taletab, details);
  return new Blob([head, ...rows, foot], {type: PAGE_TYPE});
}

// One script's conversion into its rows: feed(bytes) its blocks in order,
// then finish(). One at a time per module, which takes the page's blocks.
// The rows are kept in Blobs, or with `buffers` in Uint8Arrays, of `partBytes`.
class Conversion {
  constructor(taletab, {buffers = false, partBytes = PART_BYTES} = {}) {
    this.taletab = taletab;
    this.buffers = buffers;
    this.partBytes = partBytes;
    this.parts = [];
    // The module's blocks are gathered into parts of partBytes: a Blob
    // costs the more the more parts it is made of, and a buffer per block
    // would cost an allocation each.
    this.staging = kept(() => new Uint8Array(partBytes));
    this.staged = 0;
    taletab.takeBlock = (block) => {
      for (let at = 0; at < block.length;) {
        if (this.staged === this.staging.length) this.store();
        const size = Math.min(block.length - at, this.staging.length - this.staged);
        this.staging.set(block.subarray(at, at + size), this.staged);
        this.staged += size;
        at += size;
      }
    };
    this.converter = withDetails(taletab, NO_DETAILS, (args) => taletab._taletab_create(...args));
    this.sawTab = false;
    this.input = taletab._malloc(FEED_BYTES);
  }

  // The script's next bytes; true once nothing more can change the page (a 0x1A ended the script).
  feed(bytes) {
    const {taletab, converter, input} = this;
    // A TAB's byte is one in every encoding read (and a UTF-16 character's half may be one: no warning is missed then).
    this.sawTab = this.sawTab || bytes.includes(0x09);
    for (let at = 0; at < bytes.length && !taletab._taletab_done(converter); at += FEED_BYTES) {
      const block = bytes.subarray(at, at + FEED_BYTES);
      taletab.HEAPU8.set(block, input);
      taletab._taletab_feed(converter, input, block.length);
    }
    return taletab._taletab_done(converter) === 1;
  }

  // The part gathered so far is one of the page's; a buffer is handed over with it.
  store() {
    const part = this.staging.subarray(0, this.staged);
    if (this.buffers) {
      this.parts.push(part);
      this.staging = kept(() => new Uint8Array(this.partBytes));
    } else {
      this.parts.push(kept(() => new Blob([part])));
    }
    this.staged = 0;
  }

  // {rows, rowBytes, encoding, doubtful, rowCount, unreadable, noTab}: rows the page's
  // rows as its parts (Blobs or Uint8Arrays), rowBytes their size, doubtful whether the encoding was judged on thin or conflicting evidence,
  // noTab whether no line had a TAB (all headings, none spoken).
  finish() {
    const {taletab, converter} = this;
    taletab._taletab_finish(converter);
    this.store();
    const {head, foot} = frameOf(taletab, NO_DETAILS);
    const rows = trimmed(this.parts, head.length, foot.length);
    return {
      rows,
      rowBytes: rows.reduce((sum, part) => sum + sizeOf(part), 0),
      encoding: ENCODINGS[taletab._taletab_encoding(converter)],
      doubtful: taletab._taletab_encoding_doubtful(converter) === 1,
      rowCount: taletab._taletab_rows(converter),
      unreadable: taletab._taletab_unreadable(converter),
      noTab: !this.sawTab,
    };
  }

  // Frees the module's memory; call once, finished or not.
  destroy() {
    this.taletab._free(this.input);
    this.taletab._taletab_destroy(this.converter);
    this.taletab.takeBlock = null;
  }
}

// The whole conversion of `file` (a Blob) for `details`, reading its stream
// (node's tests and benchmark); `keeping` as for a Conversion. Resolves to
// {page, rows, encoding, rowCount, unreadable}, page a Blob of type
// text/html;charset=Shift_JIS, or to {error: 'empty' | 'binary'} for a file that is no script.
async function convertScript(taletab, file, details, keeping) {
  const refused = notAScript(taletab, new Uint8Array(await file.slice(0, SNIFFED_BYTES).arrayBuffer()));
  if (refused) return {error: refused};
  const conversion = new Conversion(taletab, keeping);
  try {
    const reader = file.stream().getReader();
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      if (conversion.feed(value)) {
        await reader.cancel();  // a 0x1A ended the script: the rest is not read
        break;
      }
    }
    const converted = conversion.finish();
    return {...converted, page: pageOf(taletab, converted.rows, details)};
  } finally {
    conversion.destroy();
  }
}

if (typeof module !== 'undefined') module.exports = {convertScript, pageOf, notAScript};
