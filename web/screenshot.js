// Makes the README's pictures of the browser page: the example script
// converted in each engine, doc/web-chromium.png, doc/web-firefox.png and
// doc/web-webkit.png (Debian's chromium, firefox-esr and webkit2gtk-driver,
// with fonts-ipafont-gothic for the Japanese; npm ci --prefix web/tests first;
// WebKit needs a display: run under xvfb-run).
//
//   xvfb-run -a node web/screenshot.js [PAGE [WIDTH]]   (default build-web/taletab.html 900)
const path = require('node:path');
const {launch} = require('./tests/engines.js');

const root = path.join(__dirname, '..');
const [page = 'build-web/taletab.html', width = '900'] = process.argv.slice(2);
const ENGINES = {chromium: '/usr/bin/chromium', firefox: '/usr/bin/firefox-esr', webkit: '/usr/bin/WebKitWebDriver'};

(async () => {
  for (const [name, program] of Object.entries(ENGINES)) {
    const browser = await launch(name, program);
    // Tall enough for the whole preview.
    const tab = await browser.tab({width: Number(width), height: 1100});
    await tab.open(`file://${path.resolve(root, page)}`);
    await tab.type('#author', 'Mori Haruka');
    await tab.choose('#file', path.join(root, 'examples', 'scene.txt'));
    await tab.waitFor(() => document.body.dataset.state === 'done');
    await new Promise((resolve) => setTimeout(resolve, 500));  // painted, in WebKit too
    const png = path.join(root, 'doc', `web-${name}.png`);
    await tab.screenshot(png);
    await browser.close();
    console.log(`wrote ${path.relative(root, png)}`);
  }
})();
