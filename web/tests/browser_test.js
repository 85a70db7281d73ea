// The browser page in headless Chromium, used as a writer would: opened from
// a file, a script chosen (with the file input, by keyboard or dropped), the
// page saved and compared byte for byte with the program's, the preview and
// the fill-in fields checked, files that are no script refused, and not one
// request made beyond the page's own file and the Blobs it makes. (What must
// hold in every engine is tested in Firefox and WebKit too: engines_test.js.)
//
//   node browser_test.js PAGE PROGRAM SOURCE_DIR [CHROMIUM]
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {test, before, after} = require('node:test');
const {launch} = require('./chromium.js');
const {scratch} = require('./scratch.js');

const [pagePath, program, source, chromiumPath] = process.argv.slice(2).map((arg, i) => (i < 3 ? path.resolve(arg) : arg));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'taletab-browser-'));
const scene = path.join(source, 'examples', 'scene.txt');
const sjis = new TextDecoder('shift_jis');
const AUTHOR_PLACEHOLDER = 'ここに名前を入れてください';
const ADDRESS_PLACEHOLDER = 'ここにメールアドレスを入れてください';

let browser;
before(async () => { browser = await launch(chromiumPath); });
after(async () => {
  await browser.close();
  fs.rmSync(work, {recursive: true, force: true});
});

const {put, byProgram} = scratch(work, program);

// A tab with the page opened from its file, in the given language; every
// request that any of its documents or workers makes is kept in `requests`.
// `before`: scripts run in the tab before the page's own. The page downloads
// what it saves, as in Firefox and WebKit, unless one of them puts in a
// save-file picker (the picker has tests of its own).
async function open(locale = 'ja-JP', ...before) {
  const context = await browser.newContext({acceptDownloads: true, locale});
  await context.addInitScript(() => { window.showSaveFilePicker = undefined; });
  for (const script of before) await context.addInitScript(script);
  const requests = [];
  context.on('request', (request) => requests.push(request));
  const tab = await context.newPage();
  await tab.goto(`file://${path.resolve(pagePath)}`);
  return {tab, requests, context};
}

const conversions = (tab) => tab.evaluate(() => Number(document.body.dataset.conversions || 0));

// Waits for the conversion after `done` earlier ones to end; its state.
async function converted(tab, done) {
  await tab.waitForFunction((n) => Number(document.body.dataset.conversions || 0) > n, done);
  return tab.evaluate(() => document.body.dataset.state);
}

async function choose(tab, file) {
  const done = await conversions(tab);
  await tab.setInputFiles('#file', file);
  return converted(tab, done);
}

async function saved(tab) {
  const [download] = await Promise.all([tab.waitForEvent('download'), tab.click('#save')]);
  return {name: download.suggestedFilename(), bytes: fs.readFileSync(await download.path())};
}

// The page made again for the fields, after `made` pages: once the save control is ready again.
async function remade(tab, made) {
  await tab.waitForFunction((n) => Number(document.body.dataset.pages) > n && !document.querySelector('#save').disabled, made);
}

const pages = (tab) => tab.evaluate(() => Number(document.body.dataset.pages || 0));

// Nothing went out but the page's own file and the Blobs it made: any other
// request was refused by the page's policy before it was sent.
async function onlyLocal(requests) {
  const sent = [];
  for (const request of requests) {
    if (/^(file|blob|data):/.test(request.url())) continue;
    await request.response();  // null once it has failed
    if (request.failure()?.errorText !== 'csp') sent.push(request.url());
  }
  assert.deepEqual(sent, [], 'the page asked for nothing beyond its file and its Blobs');
}

test('a chosen script becomes the program\'s page, shown and saved', async () => {
  const {tab, requests, context} = await open();
  assert.equal(await choose(tab, scene), 'done');
  assert.equal(await tab.inputValue('#page-name'), 'scene.htm');
  const lines = fs.readFileSync(scene).toString('latin1').split('\r\n').slice(0, -1);
  assert.match(await tab.textContent('#summary'), new RegExp(`Shift-JIS として読み、${lines.length} 行`));

  const {name, bytes} = await saved(tab);
  assert.equal(name, 'scene.htm');
  assert.deepEqual(bytes, byProgram(scene, 'scene.htm'));

  // The preview shows the rows as a browser reads the saved page: in Shift-JIS.
  await tab.waitForFunction(() => Number(document.body.dataset.previews) === 1);
  const rows = await tab.$$eval('#preview tr', (trs) => trs.map((tr) => {
    const [name, text] = tr.querySelectorAll('td');
    return [name.querySelector('b').innerHTML, text.innerHTML];
  }));
  const expected = lines.map((line) => sjis.decode(Buffer.from(line, 'latin1')).split('\t'))
    .map((fields) => [fields[0], fields.length > 1 ? fields[fields.length - 1] : '\u3000']);
  assert.deepEqual(rows, expected);
  await onlyLocal(requests);
  await context.close();
});

test('the page name is the title as the program writes it, and the fields fill the placeholders escaped', async () => {
  const {tab, requests, context} = await open();
  await choose(tab, scene);
  const author = 'A&B <"劇団😀">';
  const address = 'x"y@example.jp';
  // All three at once: the page is made again for the fields as they are, without converting the script again.
  const made = await pages(tab);
  await tab.evaluate(([name, author, address]) => {
    for (const [id, value] of [['page-name', name], ['author', author], ['address', address]]) {
      document.getElementById(id).value = value;
    }
    document.getElementById('address').dispatchEvent(new Event('input'));
  }, ['台本😀.htm', author, address]);
  await remade(tab, made);
  assert.equal(await conversions(tab), 1);

  // The program's page with its placeholders replaced by the fields, escaped, a character
  // Shift-JIS lacks as its reference (compared as read back from Shift-JIS).
  const {name, bytes} = await saved(tab);
  assert.equal(name, '台本😀.htm');
  const escaped = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
    .replace(/"/g, '&quot;').replace('😀', '&#x1F600;');
  const expected = sjis.decode(byProgram(scene, '台本😀.htm'))
    .replaceAll(AUTHOR_PLACEHOLDER, escaped(author)).replace(ADDRESS_PLACEHOLDER, escaped(address));
  assert.equal(sjis.decode(bytes), expected);
  await onlyLocal(requests);
  await context.close();
});

test('a file that is no script gets a message and no page', async () => {
  const {tab, requests, context} = await open();
  for (const [label, bytes, message] of [
    ['empty', Buffer.alloc(0), /空で、脚本の行がありません/],
    ['binary', Buffer.concat([Buffer.from('\x89PNG\r\n\x1a\n\0\0\0\rIHDR', 'latin1'), fs.readFileSync(scene)]), /脚本（テキストファイル）ではない/],
  ]) {
    await choose(tab, scene);  // a page first, which the refused file must take away
    assert.equal(await choose(tab, put(`${label}.txt`, bytes)), 'refused', label);
    assert.match(await tab.textContent('#message'), message, label);
    assert.equal(await tab.isVisible('#result'), false, label);
    assert.equal(await tab.isVisible('#preview'), false, label);
    assert.equal(await tab.isDisabled('#save'), true, label);
  }
  await onlyLocal(requests);
  await context.close();
});

test('a word being composed (Japanese input) makes the page again only once it is composed', async () => {
  const {tab, context} = await open();
  await choose(tab, scene);
  const made = await pages(tab);
  await tab.evaluate(() => {
    const field = document.getElementById('author');
    field.value = 'もり';
    field.dispatchEvent(new InputEvent('input', {isComposing: true, data: 'もり'}));
  });
  assert.equal(await pages(tab), made);
  await tab.evaluate(() => {
    const field = document.getElementById('author');
    field.value = '森';
    field.dispatchEvent(new CompositionEvent('compositionend', {data: '森'}));
  });
  await remade(tab, made);
  assert.ok(sjis.decode((await saved(tab)).bytes).includes('制作:<strong>森</strong>'));
  await context.close();
});

test('chosen by keyboard alone, or dropped', async () => {
  const {tab, requests, context} = await open();
  // Asked for before any key is pressed: the browser takes a while to start handing file choosers over.
  const chooser = tab.waitForEvent('filechooser');
  // Tab reaches the file input (behind the drop zone's label), and the space bar opens the file chooser.
  let focused = '';
  for (let i = 0; i < 5 && focused !== 'file'; i++) {
    await tab.keyboard.press('Tab');
    focused = await tab.evaluate(() => document.activeElement.id);
  }
  assert.equal(focused, 'file');
  let done = await conversions(tab);
  await tab.keyboard.press(' ');
  await (await chooser).setFiles(scene);
  assert.equal(await converted(tab, done), 'done');
  // The save button is reachable by keyboard too.
  const [download] = await Promise.all([tab.waitForEvent('download'), tab.focus('#save').then(() => tab.keyboard.press('Enter'))]);
  assert.deepEqual(fs.readFileSync(await download.path()), byProgram(scene, 'scene.htm'));

  done = await conversions(tab);
  await tab.evaluate((script) => {
    const data = new DataTransfer();
    data.items.add(new File([script], '第二稿.txt'));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));
  }, 'ハルカ\tうん。\r\n');
  assert.equal(await converted(tab, done), 'done');
  assert.equal(await tab.inputValue('#page-name'), '第二稿.htm');
  assert.match(await tab.textContent('#summary'), /UTF-8 として読み、1 行/);
  await onlyLocal(requests);
  await context.close();
});

test('in English where the browser prefers another language, and switched back to Japanese', async () => {
  const {tab, context} = await open('en-US');
  assert.equal(await tab.textContent('h1'), 'Turn a script into an HTML page');
  assert.equal(await choose(tab, scene), 'done');
  assert.match(await tab.textContent('#summary'), /^Read as Shift-JIS: \d+ rows\.$/);
  await tab.click('#language');
  assert.equal(await tab.textContent('h1'), '脚本をHTMLページに変換');
  assert.match(await tab.textContent('#summary'), /Shift-JIS として読み/);
  assert.equal(await tab.evaluate(() => document.documentElement.lang), 'ja');
  await context.close();
});

test('a large script shows its progress, and its page is saved whole and previewed in part', async () => {
  const {tab, context} = await open();
  // Some 80 MB: longer to convert than the moment after which the progress bar shows.
  const script = put('long.txt', Buffer.concat(Array(220000).fill(fs.readFileSync(scene))));
  const done = await conversions(tab);
  await tab.setInputFiles('#file', script);
  await tab.waitForSelector('#working', {state: 'visible'});
  assert.match(await tab.textContent('#percent'), /^\d+%$/);
  assert.equal(await converted(tab, done), 'done');
  assert.equal(await tab.isVisible('#working'), false);
  assert.equal(await tab.isVisible('#preview-note'), true);
  assert.match(await tab.textContent('#preview-note'), /プレビューはページの先頭 1 MB だけです。保存されるページは全部（\d+(\.\d)? MB）です。/);
  const {bytes} = await saved(tab);
  assert.ok(bytes.equals(byProgram(script, 'long.htm')));
  await context.close();
});

test('a script edited since it was chosen can be chosen again', async () => {
  const {tab, context} = await open();
  const script = put('edited.txt', fs.readFileSync(scene));
  let done = await conversions(tab);
  await tab.setInputFiles('#file', script);
  assert.equal(await converted(tab, done), 'done');
  // A browser tells of a choice only where the input's value changes: it must be empty again.
  assert.equal(await tab.inputValue('#file'), '');
  fs.appendFileSync(script, Buffer.from('\x83n\x83\x8b\x83J\t\x82\xdc\x82\xbd\x96\xbe\x93\xfa\x81B\r\n', 'latin1'));
  done = await conversions(tab);
  await tab.setInputFiles('#file', script);
  assert.equal(await converted(tab, done), 'done');
  assert.deepEqual((await saved(tab)).bytes, byProgram(script, 'edited.htm'));
  await context.close();
});

test('a script chosen while another converts takes its place', async () => {
  const {tab, context} = await open();
  const long = put('longer.txt', Buffer.concat(Array(100000).fill(fs.readFileSync(scene))));
  const done = await conversions(tab);
  await tab.setInputFiles('#file', long);
  await tab.waitForFunction(() => document.body.dataset.state === 'converting');
  await tab.setInputFiles('#file', scene);
  assert.equal(await converted(tab, done), 'done');
  const {name, bytes} = await saved(tab);
  assert.equal(name, 'scene.htm');
  assert.deepEqual(bytes, byProgram(scene, 'scene.htm'));
  assert.equal(await tab.isVisible('#working'), false);
  assert.equal(await conversions(tab), done + 1, 'the first conversion was dropped, not finished');
  await context.close();
});

test('a file that looks like something else is converted with a warning, and a word processor\'s document refused', async () => {
  const {tab, context} = await open();
  const page = byProgram(scene, 'scene.htm');
  for (const [label, bytes, warnings] of [
    ['no TAB', Buffer.from('\x96\xbc\x91O\x81u\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x81v\r\n', 'latin1'), ['noTab']],
    ['RTF (its TABs are words)', Buffer.from('{\\rtf1\\ansi A\\tab B\\par}\r\n', 'latin1'), ['rtf', 'noTab']],
    ['a saved page chosen again', page, ['html']],
    ['a script', fs.readFileSync(scene), []],
  ]) {
    const file = put(`${label}.txt`, bytes);
    assert.equal(await choose(tab, file), 'done', label);
    assert.deepEqual(await tab.$$eval('#warnings li', (items) => items.map((item) => item.dataset.warning)), warnings, label);
    assert.deepEqual((await saved(tab)).bytes, byProgram(file, `${label}.htm`), label);
  }
  const docx = put('play.docx', Buffer.concat([Buffer.from('PK\x03\x04\x14\x00\x06\x00\x08\x00\x00\x00!\x00', 'latin1'), fs.readFileSync(scene)]));
  assert.equal(await choose(tab, docx), 'refused');
  assert.match(await tab.textContent('#message'), /ワープロの文書/);
  assert.match(await tab.textContent('.help'), /一太郎/);
  await context.close();
});

test('a file changed or deleted while it is read says so, each in its own words', async () => {
  const {tab, context} = await open();
  for (const [label, harm, message] of [
    ['changed', (file) => fs.appendFileSync(file, 'A\tB\r\n'), /選んだ後で変更されたようです。もう一度選んでください/],
    ['deleted', (file) => fs.rmSync(file), /消されたか、読む権限がない/],
  ]) {
    const script = put(`${label}.txt`, Buffer.concat(Array(150000).fill(fs.readFileSync(scene))));
    const done = await conversions(tab);
    await tab.setInputFiles('#file', script);
    await tab.waitForFunction(() => Number(document.querySelector('#progress').value) > 0);
    harm(script);
    assert.equal(await converted(tab, done), 'refused', label);
    assert.match(await tab.textContent('#message'), message, label);
    assert.equal(await tab.isDisabled('#save'), true, label);
  }
  await context.close();
});

test('a conversion can be cancelled, and the example tried', async () => {
  const {tab, context} = await open();
  const script = put('cancelled.txt', Buffer.concat(Array(150000).fill(fs.readFileSync(scene))));
  await tab.setInputFiles('#file', script);
  await tab.click('#cancel');
  assert.match(await tab.textContent('#message'), /変換をやめました/);
  assert.equal(await tab.evaluate(() => document.body.dataset.state), 'idle');
  const done = await conversions(tab);
  await tab.click('#example');
  assert.equal(await converted(tab, done), 'done');
  assert.deepEqual((await saved(tab)).bytes, byProgram(scene, 'scene.htm'));
  await context.close();
});

test('the author and address are remembered between visits until told to forget them', async () => {
  const {tab, context} = await open();
  await tab.fill('#author', '森 ハルカ');
  await tab.fill('#address', 'haruka@example.jp');
  await tab.reload();
  assert.deepEqual([await tab.inputValue('#author'), await tab.inputValue('#address')], ['森 ハルカ', 'haruka@example.jp']);
  await tab.uncheck('#remember');
  await tab.reload();
  assert.deepEqual([await tab.inputValue('#author'), await tab.inputValue('#address')], ['', '']);
  await context.close();
});

test('Enter on the file chooser opens it, and text dropped into a field is the field\'s', async () => {
  const {tab, context} = await open();
  const chooser = tab.waitForEvent('filechooser');
  await tab.focus('#file');
  await tab.keyboard.press('Enter');
  await chooser;
  const taken = await tab.evaluate(() => {
    const data = new DataTransfer();
    data.setData('text/plain', '森');
    const event = new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true});
    document.getElementById('author').dispatchEvent(event);
    return !event.defaultPrevented;
  });
  assert.equal(taken, true, 'the page leaves a text drop to the field');
  await context.close();
});

test('old pages are let go: after ten edits, each saved, one page\'s address is left', async () => {
  const {tab, context} = await open();
  await tab.evaluate(() => {
    window.liveUrls = new Set();
    const [create, revoke] = [URL.createObjectURL, URL.revokeObjectURL];
    URL.createObjectURL = (object) => {
      const url = create.call(URL, object);
      window.liveUrls.add(url);
      return url;
    };
    URL.revokeObjectURL = (url) => {
      window.liveUrls.delete(url);
      revoke.call(URL, url);
    };
  });
  await choose(tab, scene);
  for (let i = 0; i < 10; i++) {
    const made = await pages(tab);
    await tab.fill('#author', `author ${i}`);
    await remade(tab, made);
    assert.ok(sjis.decode((await saved(tab)).bytes).includes(`<strong>author ${i}</strong>`));
  }
  assert.equal(await tab.evaluate(() => window.liveUrls.size), 1);
  await context.close();
});

// In the tab, before the page's script: a save-file picker whose file keeps
// what is written to it (window.picked), and behaves as window.pickerMode
// says: 'write'; 'cancel' (the person closes the picker); 'refuse' (a
// browser that will not show one); 'fail' (a write after the first rejects,
// as on a full disk).
function fakePicker() {
  window.picked = {asked: 0, writes: 0, aborted: 0, pages: []};
  window.pickerMode = 'write';
  window.showSaveFilePicker = async ({suggestedName}) => {
    window.picked.asked++;
    const mode = window.pickerMode;
    if (mode === 'cancel') throw new DOMException('The user aborted a request.', 'AbortError');
    if (mode === 'refuse') throw new DOMException('Not allowed here.', 'SecurityError');
    const parts = [];
    return {
      name: suggestedName,
      async createWritable() {
        return {
          async write(part) {
            if (mode === 'fail' && parts.length > 0) throw new DOMException('The disk is full.', 'QuotaExceededError');
            window.picked.writes++;
            parts.push(new Uint8Array(part instanceof Blob ? await part.arrayBuffer() : part));
          },
          async close() { window.picked.pages.push({name: suggestedName, file: new Blob(parts)}); },
          async abort() { window.picked.aborted++; },
        };
      },
    };
  };
}

// The bytes of the `i`th file written through the stand-in picker, read out 8 MB at a time.
async function picked(tab, i) {
  const parts = [];
  for (let from = 0; ; from += 8 * 1024 * 1024) {
    const data = await tab.evaluate(([i, from]) => new Promise((resolve) => {
      const reader = new FileReader();
      reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
      reader.readAsDataURL(window.picked.pages[i].file.slice(from, from + 8 * 1024 * 1024));
    }), [i, from]);
    if (!data) return Buffer.concat(parts);
    parts.push(Buffer.from(data, 'base64'));
  }
}

test('with a save-file picker the page is written to the picked file a part at a time; a cancel says nothing, a failed write says so', async () => {
  const {tab, context} = await open('ja-JP', fakePicker);
  const downloads = [];
  tab.on('download', (download) => downloads.push(download));
  await choose(tab, scene);
  const made = await pages(tab);
  await tab.fill('#author', 'Mori & Co');
  await remade(tab, made);
  // The program's page with the author's placeholder (in Shift-JIS) replaced.
  const placeholder = '\x82\xb1\x82\xb1\x82\xc9\x96\xbc\x91O\x82\xf0\x93\xfc\x82\xea\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2';
  assert.equal(sjis.decode(Buffer.from(placeholder, 'latin1')), AUTHOR_PLACEHOLDER);
  const expected = Buffer.from(byProgram(scene, 'scene.htm').toString('latin1').replaceAll(placeholder, 'Mori &amp; Co'), 'latin1');
  const state = () => tab.evaluate(() => ({
    ...window.picked, pages: window.picked.pages.map((page) => page.name), message: document.getElementById('message').textContent, saved: document.getElementById('saved').textContent,
    saveEnabled: !document.getElementById('save').disabled,
  }));
  // Clicks save with the picker in `mode`; the page's state once it has answered.
  const saveWith = async (mode) => {
    const asked = (await state()).asked;
    await tab.evaluate((mode) => { window.pickerMode = mode; }, mode);
    await tab.click('#save');
    await tab.waitForFunction((n) => window.picked.asked > n, asked);
    await tab.waitForTimeout(300);  // time enough for a write, a message or a download
    return state();
  };

  let now = await saveWith('write');
  assert.deepEqual(now.pages, ['scene.htm']);
  assert.ok((await picked(tab, 0)).equals(expected), 'the written page is the program\'s, with the author');
  assert.equal(now.writes, 3, 'the head, the rows and the foot, each written as it is');
  assert.equal(now.saved, '「scene.htm」に保存しました。');
  assert.equal(now.message, '');

  now = await saveWith('cancel');
  assert.deepEqual([now.message, now.saved, now.pages.length, downloads.length, now.saveEnabled], ['', '', 1, 0, true], 'cancelled');

  now = await saveWith('fail');
  assert.match(now.message, /ページを保存できませんでした/, 'a failed write');
  assert.equal(now.saved, '', 'a failed write is not called saved');
  assert.deepEqual([now.pages.length, now.aborted, now.saveEnabled], [1, 1, true], 'the file left as it was, and saving offered again');

  now = await saveWith('refuse');
  assert.equal(now.message, '');
  assert.equal(downloads.length, 1, 'a browser that shows no picker downloads the page');
  assert.ok(fs.readFileSync(await downloads[0].path()).equals(expected));

  // Some 36 MB: a page of several parts, written and previewed from them.
  const long = put('long-picked.txt', Buffer.concat(Array(100000).fill(fs.readFileSync(scene))));
  const previews = await tab.evaluate(() => Number(document.body.dataset.previews));
  await tab.fill('#author', '');
  assert.equal(await choose(tab, long), 'done');
  now = await saveWith('write');
  assert.deepEqual(now.pages, ['scene.htm', 'long-picked.htm']);
  const page = byProgram(long, 'long-picked.htm');
  assert.ok((await picked(tab, 1)).equals(page), 'a page of several parts');
  assert.ok(now.writes > 3 + 3, 'its rows written a part at a time');
  // The preview: the rows begun within the first megabyte after the head, up to its last line end.
  const rows = page.subarray(page.indexOf('<table cellpadding="4">\r\n') + 25).subarray(0, 1024 * 1024);
  await tab.waitForFunction((n) => Number(document.body.dataset.previews) > n, previews);
  assert.equal(await tab.evaluate(() => document.querySelectorAll('#preview tr').length),
               rows.subarray(0, rows.lastIndexOf('\n') + 1).toString('latin1').split('\t\t<tr>\r\n').length - 1);
  await context.close();
});

// In the tab, before the page's script: each worker the page starts runs `prelude` first.
const inWorkers = (prelude) => `{
  const RealWorker = window.Worker;
  window.Worker = function (url, options) {
    const script = document.getElementById('worker-script').textContent;
    return new RealWorker(URL.createObjectURL(new Blob([${JSON.stringify(prelude)}, script], {type: 'text/javascript'})), options);
  };
}`;

test('a page the browser cannot keep, or a script its memory cannot hold, is reported and nothing is offered to save', async () => {
  // One line of 24 MB: the module's memory (16 MB at first) must grow to hold it.
  const longLine = put('long-line.txt', Buffer.concat([Buffer.from('A\t'), Buffer.alloc(24 * 1024 * 1024, 'x'), Buffer.from('\r\n')]));
  for (const [label, prelude, script, message, ...before] of [
    ['the worker makes no Blob', 'self.Blob = class { constructor() { throw new RangeError("Out of memory"); } };', scene,
     /ページが大きすぎて、このブラウザーには保管できませんでした/],
    // With a save-file picker the page is kept in buffers of 16 MB: none given, or none after the first.
    ...[['the worker gets no buffer for the page', 0, scene], ['the worker gets no second buffer', 1, longLine]].map(([label, given, script]) => [
      label, `{
        let given = ${given};
        self.Uint8Array = new Proxy(Uint8Array, {construct(real, args) {
          if (args[0] >= 16 * 1024 * 1024 && given-- === 0) throw new RangeError("Array buffer allocation failed");
          return Reflect.construct(real, args);
        }});
      }`, script, /ページが大きすぎて、このブラウザーには保管できませんでした/, fakePicker]),
    ['the module\'s memory cannot grow',
     'WebAssembly.Memory.prototype.grow = function () { throw new RangeError("WebAssembly.Memory.grow(): Maximum memory size exceeded"); };',
     longLine, /メモリーが足りず、変換できませんでした/],
  ]) {
    const {tab, context} = await open('ja-JP', ...before, {content: inWorkers(prelude)});
    assert.equal(await choose(tab, script), 'refused', label);
    assert.match(await tab.textContent('#message'), message, label);
    assert.equal(await tab.isVisible('#result'), false, label);
    assert.equal(await tab.isDisabled('#save'), true, label);
    await context.close();
  }

  // The page's own Blob, made as the download starts.
  const {tab, context} = await open();
  await choose(tab, scene);
  await tab.evaluate(() => { window.Blob = class { constructor() { throw new RangeError('Out of memory'); } }; });
  await tab.click('#save');
  await tab.waitForFunction(() => document.body.dataset.state === 'refused');
  assert.match(await tab.textContent('#message'), /ページが大きすぎて、このブラウザーには保管できませんでした/);
  assert.equal(await tab.isDisabled('#save'), true);
  await context.close();
});
