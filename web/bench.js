// The browser page's benchmark: prints how long generated scripts of 10 MB
// and 200 MB take to be converted and ready to save in headless Chromium and
// Firefox, the browser's memory meanwhile, and the WebAssembly conversion under node
// against the program on the same script. Figures only: the goals are under
// 0.5 s and under 8 s in Chromium, Chromium within 2 times Firefox, and the
// WebAssembly within 3 times the program.
//
//   node web/bench.js [--sizes 10,200] [--rounds 3] [--engines chromium,firefox]
//
// Browser memory is the proportional set size of all its processes, before
// the file is chosen and at the most while it is converted; the page's Blob
// is in it, until the browser moves large Blobs to disk. The wasm conversion under
// node is timed once it has run once, the program as a whole process.
//
// Chromium, which has a save-file picker, keeps the page as the worker made
// it and copies it only when it is saved: so its save is timed too, once a
// size, from the click to the page written through the picker's writable (to
// a file of the origin's private file system, which stands in for the
// picked one; a page opened from a file has none, so the page is served from
// 127.0.0.1 for this).
//
// Needs the web build (build-web), the program (build/taletab) and
// npm ci --prefix web/tests. Scripts go to $TALETAB_BENCH_DIR (default /tmp/taletab-bench).
const {execFileSync} = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const {launch} = require('./tests/engines.js');
const {convertScript} = require('./convert.js');

const root = path.join(__dirname, '..');
const option = (name, fallback) => {
  const at = process.argv.indexOf(`--${name}`);
  return at < 0 ? fallback : process.argv[at + 1];
};
const SIZES = option('sizes', '10,200').split(',').map(Number);
const PROGRAMS = {chromium: '/usr/bin/chromium', firefox: '/usr/bin/firefox-esr'};
const ENGINES = Object.fromEntries(option('engines', 'chromium,firefox').split(',').map((name) => [name, PROGRAMS[name]]));
const ROUNDS = Number(option('rounds', '3'));
const MB = 1000 * 1000;
const work = process.env.TALETAB_BENCH_DIR || '/tmp/taletab-bench';
const page = path.join(root, 'build-web', 'taletab.html');
const program = path.join(root, 'build', 'taletab');

async function scriptOf(megabytes) {
  const file = path.join(work, `web-${megabytes}m.txt`);
  if (!fs.existsSync(file)) {
    fs.mkdirSync(work, {recursive: true});
    const generator = await require(path.join(root, 'build-web', 'web', 'tests', 'generated_scripts.js'))();
    const at = generator._taletab_generate(megabytes, megabytes * MB);
    fs.writeFileSync(file, generator.HEAPU8.subarray(at, at + generator._taletab_generated_size()));
  }
  return file;
}

const best = (times) => Math.min(...times);

function programSeconds(script) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'taletab-bench-'));
  try {
    const times = [];
    for (let i = 0; i < ROUNDS; i++) {
      const started = process.hrtime.bigint();
      execFileSync(program, [script, path.join(folder, 'page.htm')]);
      times.push(Number(process.hrtime.bigint() - started) / 1e9);
    }
    return best(times);
  } finally {
    fs.rmSync(folder, {recursive: true, force: true});
  }
}

async function nodeSeconds(taletab, script) {
  const file = new Blob([fs.readFileSync(script)]);
  await convertScript(taletab, file, {title: 'page.htm'});  // once for the compiler to settle
  const times = [];
  for (let i = 0; i < ROUNDS; i++) {
    const started = process.hrtime.bigint();
    await convertScript(taletab, file, {title: 'page.htm'});
    times.push(Number(process.hrtime.bigint() - started) / 1e9);
  }
  return best(times);
}

// The memory of every process this one started (the browser's), in bytes:
// their proportional set sizes, which count memory they share once.
function browserMemory() {
  const pid = process.pid;
  const children = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const parent = Number(fs.readFileSync(`/proc/${entry}/stat`, 'utf8').split(') ')[1].split(' ')[1]);
      children.set(Number(entry), parent);
    } catch { /* gone meanwhile */ }
  }
  let bytes = 0;
  const family = new Set([pid]);
  for (let grew = true; grew;) {
    grew = false;
    for (const [child, parent] of children) {
      if (family.has(parent) && !family.has(child)) { family.add(child); grew = true; }
    }
  }
  family.delete(pid);
  for (const member of family) {
    try {
      bytes += Number(/^Pss:\s+(\d+) kB/m.exec(fs.readFileSync(`/proc/${member}/smaps_rollup`, 'utf8'))[1]) * 1024;
    } catch { /* gone meanwhile */ }
  }
  return bytes;
}

async function browserRound(browser, script) {
  const tab = await browser.tab();
  await tab.open(`file://${page}`);
  const before = browserMemory();
  let peak = before;
  const sampler = setInterval(() => { peak = Math.max(peak, browserMemory()); }, 100);
  await tab.choose('#file', script);
  await tab.waitFor(() => document.body.dataset.state === 'done');
  clearInterval(sampler);
  const seconds = Number(await tab.run(() => document.body.dataset.convertMs)) / 1000;
  await tab.close();
  return {seconds, before, peak};
}

async function chromiumSaveSeconds(browser, script) {
  const server = http.createServer((request, response) => {
    response.writeHead(200, {'content-type': 'text/html'});
    fs.createReadStream(page).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const tab = await browser.tab();
  try {
    await tab.open(`http://127.0.0.1:${server.address().port}/taletab.html`);
    await tab.run(() => {
      window.showSaveFilePicker = async ({suggestedName}) => (await navigator.storage.getDirectory()).getFileHandle(suggestedName, {create: true});
    });
    await tab.choose('#file', script);
    await tab.waitFor(() => document.body.dataset.state === 'done');
    const started = process.hrtime.bigint();
    await tab.click('#save');
    await tab.waitFor(() => document.getElementById('saved').textContent || document.getElementById('message').textContent);
    const seconds = Number(process.hrtime.bigint() - started) / 1e9;
    const message = await tab.run(() => document.getElementById('message').textContent);
    if (message) throw new Error(`not saved: ${message}`);
    return seconds;
  } finally {
    await tab.close();
    server.close();
  }
}

(async () => {
  const taletab = await require(path.join(root, 'build-web', 'web', 'taletab_module.js'))();
  console.log(`${os.cpus()[0].model}, ${os.cpus().length} cores; best of ${ROUNDS} rounds`);
  console.log('script   | engine   | ready to save | memory: before, peak | wasm (node) | program | wasm/program');
  const mib = (bytes) => `${(bytes / 1024 / 1024).toFixed(0)} MiB`;
  for (const megabytes of SIZES) {
    const script = await scriptOf(megabytes);
    const wasm = await nodeSeconds(taletab, script);
    const native = programSeconds(script);
    const fastest = {};
    for (const [engine, executable] of Object.entries(ENGINES)) {
      const browser = await launch(engine, executable);
      const rounds = [];
      for (let i = 0; i < ROUNDS; i++) rounds.push(await browserRound(browser, script));
      const saved = engine === 'chromium' ? await chromiumSaveSeconds(browser, script) : null;
      await browser.close();
      fastest[engine] = best(rounds.map((r) => r.seconds));
      console.log([`${megabytes} MB`.padEnd(8), engine.padEnd(8), `${fastest[engine].toFixed(3)} s`.padStart(13),
                   `${mib(Math.min(...rounds.map((r) => r.before)))}, ${mib(Math.max(...rounds.map((r) => r.peak)))}`.padStart(20),
                   `${wasm.toFixed(3)} s`.padStart(11), `${native.toFixed(3)} s`.padStart(7),
                   `${(wasm / native).toFixed(2)}x`.padStart(12)].join(' | '));
      if (saved !== null) console.log(`${megabytes} MB: Chromium writes the page through the save-file picker in ${saved.toFixed(3)} s`);
    }
    if (fastest.chromium && fastest.firefox) console.log(`${megabytes} MB: Chromium takes ${(fastest.chromium / fastest.firefox).toFixed(2)} times Firefox's time`);
  }
})();
