// The browser page in Chromium, Firefox and WebKit, each opened from the
// page's file as a writer opens it: a script converted and saved byte for
// byte as the program writes it; an author typed and saved at once; a script
// whose markup points at a server (a listener on 127.0.0.1) makes no
// connection and runs nothing; and axe-core finds nothing to mend.
//
//   node engines_test.js PAGE PROGRAM SOURCE_DIR ENGINE=PATH...
// ENGINE is chromium or firefox (PATH the browser) or webkit (PATH WebKitWebDriver; under xvfb-run).
const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const {describe, test, before, after, afterEach} = require('node:test');
const {launch} = require('./engines.js');
const {scratch} = require('./scratch.js');

const [pagePath, program, source] = process.argv.slice(2, 5).map((arg) => path.resolve(arg));
const engines = process.argv.slice(5);
const pageUrl = `file://${path.resolve(pagePath)}`;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'taletab-engines-'));
const scene = path.join(source, 'examples', 'scene.txt');
const AUTHOR_PLACEHOLDER = Buffer.from('\x82\xb1\x82\xb1\x82\xc9\x96\xbc\x91O\x82\xf0\x93\xfc\x82\xea\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2', 'latin1');
after(() => fs.rmSync(work, {recursive: true, force: true}));

const {put, byProgram} = scratch(work, program);

// In the page: keeps each page the save control hands to the browser, with
// its name: downloaded, or written to a file picked where the browser has a
// save-file picker (which stands in for the picker here).
function keepSaved() {
  window.savedPages = [];
  if (window.showSaveFilePicker) {
    window.showSaveFilePicker = async ({suggestedName}) => ({
      name: suggestedName,
      async createWritable() {
        const parts = [];
        return {
          write: async (part) => { parts.push(part); },
          close: async () => { window.savedPages.push({name: suggestedName, blob: new Blob(parts)}); },
          abort: async () => {},
        };
      },
    });
  }
  const blobs = new Map();
  const create = URL.createObjectURL;
  URL.createObjectURL = (object) => {
    const url = create.call(URL, object);
    blobs.set(url, object);
    return url;
  };
  const click = HTMLAnchorElement.prototype.click;
  HTMLAnchorElement.prototype.click = function () {
    window.savedPages.push({name: this.download, blob: blobs.get(this.href)});
    return click.call(this);
  };
}

// In the page: the last page saved, its bytes in base64.
async function lastSaved() {
  const {name, blob} = window.savedPages[window.savedPages.length - 1];
  const bytes = new Uint8Array(await blob.arrayBuffer());
  let text = '';
  for (let at = 0; at < bytes.length; at += 8192) text += String.fromCharCode(...bytes.subarray(at, at + 8192));
  return {name, data: btoa(text)};
}

const conversions = () => Number(document.body.dataset.conversions || 0);
function convertedAfter(done) {
  return Number(document.body.dataset.conversions || 0) > done && document.body.dataset.state;
}

async function choose(tab, file) {
  const done = await tab.run(conversions);
  await tab.choose('#file', file);
  return tab.waitFor(convertedAfter, done);
}

async function save(tab) {
  const before = await tab.run(() => window.savedPages.length);
  await tab.click('#save');
  await tab.waitFor((n) => window.savedPages.length > n, before);
  const {name, data} = await tab.run(lastSaved);
  return {name, bytes: Buffer.from(data, 'base64')};
}

for (const engine of engines) {
  const [name, executable] = engine.split('=');
  describe(name, () => {
    let browser, tab;
    before(async () => { browser = await launch(name, executable); });
    after(async () => { await browser.close(); });
    // One tab at a time (WebKitWebDriver keeps one session), closed whatever became of the test.
    afterEach(async () => {
      if (tab) await tab.close();
      tab = null;
    });

    async function open() {
      tab = await browser.tab();
      await tab.open(pageUrl);
      await tab.run(keepSaved);
      return tab;
    }

    test('a script chosen from the page\'s file is saved as the program\'s page', async () => {
      await open();
      assert.equal(await choose(tab, scene), 'done');
      await tab.waitFor(() => Number(document.body.dataset.previews) === 1);
      assert.equal(await tab.run(() => document.querySelectorAll('#preview tr').length), 12);
      const {name: saved, bytes} = await save(tab);
      assert.equal(saved, 'scene.htm');
      assert.ok(bytes.equals(byProgram(scene, 'scene.htm')), 'the saved page is the program\'s');
    });

    test('an author typed and saved at once is in the saved page, with no second conversion', async () => {
      await open();
      await choose(tab, scene);
      await tab.type('#author', 'Mori & Co');
      const {bytes} = await save(tab);
      const expected = byProgram(scene, 'scene.htm');
      assert.ok(bytes.equals(Buffer.from(expected.toString('latin1').replaceAll(AUTHOR_PLACEHOLDER.toString('latin1'), 'Mori &amp; Co'), 'latin1')));
      assert.equal(await tab.run(conversions), 1);
    });

    test('markup in a script that points at a server contacts nothing and runs nothing', async () => {
      const connections = [];
      const listener = net.createServer((socket) => { connections.push(socket.remoteAddress); socket.destroy(); });
      await new Promise((resolve) => listener.listen(0, '127.0.0.1', resolve));
      const at = `127.0.0.1:${listener.address().port}`;
      const script = put('pointing.txt', [
        `A\t<iframe src="http://${at}/frame"></iframe><img src="http://${at}/img.png">`,
        `B\t<link rel="preconnect" href="http://${at}/"><link rel="stylesheet" href="http://${at}/s.css">`,
        `C\t<video poster="http://${at}/poster.png" src="http://${at}/v.mp4"></video><object data="http://${at}/o"></object>`,
        `D\t<a href="http://${at}/a" ping="http://${at}/ping" id="pinged">link</a><script>window.ran = true</script>`,
        `E\t<img src=x onerror="window.ran = true"><script src="http://${at}/s.js"></script><b>bold</b><br>next`,
      ].join('\r\n') + '\r\n');
      try {
        await open();
        assert.equal(await choose(tab, script), 'done');
        await tab.waitFor(() => Number(document.body.dataset.previews) === 1);
        const {bytes} = await save(tab);
        assert.ok(bytes.equals(byProgram(script, 'pointing.htm')));
        await new Promise((resolve) => setTimeout(resolve, 1500));  // time enough for anything to go out
        assert.deepEqual(connections, [], 'no connection to the listener');
        assert.equal(await tab.run(() => window.ran === undefined), true, 'nothing of the script ran');
        // The preview keeps bold and line breaks, and holds nothing that loads, links or runs.
        assert.deepEqual(await tab.run(() => [
          document.querySelectorAll('#preview tr').length,
          document.querySelectorAll('#preview b').length, document.querySelectorAll('#preview br').length,
          document.querySelectorAll('#preview :is(iframe, img, link, video, object, a, script)').length,
          document.querySelectorAll('#preview [src], #preview [href], #preview [onerror]').length]), [5, 5 + 1, 1, 0, 0]);
      } finally {
        listener.close();
      }
    });

    test('axe-core finds nothing to mend in the page, before and after a conversion', async () => {
      await open();
      const axe = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
      const check = async () => {
        if (await tab.run(() => !window.axe)) await tab.run(axe);
        const found = await tab.run(async () => {
          const {violations} = await window.axe.run(document);
          return violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
        });
        assert.deepEqual(found, []);
      };
      await check();
      await choose(tab, scene);
      await check();
    });
  });
}
