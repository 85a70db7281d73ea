// Makes doc/web.png, the README's picture of the browser page: the example
// script converted in headless Chromium (Debian's chromium, with
// fonts-ipafont-gothic for the Japanese; npm ci --prefix web/tests first).
//
//   node web/screenshot.js [PAGE [PNG [WIDTH]]]   (default build-web/taletab.html doc/web.png 900)
const path = require('node:path');
const {launch} = require('./tests/chromium.js');

const root = path.join(__dirname, '..');
const [page = 'build-web/taletab.html', png = 'doc/web.png', width = '900'] = process.argv.slice(2);

(async () => {
  const browser = await launch();
  // Tall enough for the whole preview: Chromium paints no frame outside the window.
  const tab = await browser.newPage({viewport: {width: Number(width), height: 900}, locale: 'ja-JP'});
  await tab.goto(`file://${path.resolve(root, page)}`);
  await tab.fill('#author', '森 ハルカ');
  await tab.setInputFiles('#file', path.join(root, 'examples', 'scene.txt'));
  await tab.waitForFunction(() => document.body.dataset.previewShown === document.querySelector('#preview').src);
  await tab.screenshot({path: path.resolve(root, png), fullPage: true});
  await browser.close();
  console.log(`wrote ${png}`);
})();
