// The three browser engines, each driven the same small way for the tests
// that must hold in all of them: Debian's chromium (puppeteer-core, over the
// DevTools protocol), firefox-esr (puppeteer-core, over WebDriver BiDi) and
// WebKitGTK's MiniBrowser (selenium-webdriver, over WebKitWebDriver, which
// needs a display: run under xvfb-run). None of them fetches a browser.
//
// A driven tab: open(url), choose(selector, file), type(selector, text),
// click(selector) (once it is enabled, as a person would wait for it),
// run(fn, ...args) (fn runs in the page, or code given as a string does; a
// promise it returns is awaited),
// waitFor(fn, ...args), screenshot(png), close().
const {spawn} = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const {Builder, By} = require('selenium-webdriver');
const {FLAGS: CHROMIUM_FLAGS} = require('./chromium.js');

// Firefox's own traffic (updates, telemetry, safe browsing and the like) kept off.
const FIREFOX_PREFS = {
  'app.update.enabled': false, 'browser.safebrowsing.malware.enabled': false, 'browser.safebrowsing.phishing.enabled': false,
  'datareporting.policy.dataSubmissionEnabled': false, 'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false, 'browser.newtabpage.enabled': false,
};

async function poll(check, what, timeoutMs = 60000) {
  const until = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > until) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function enabled(selector) {
  const element = document.querySelector(selector);
  return element && !element.disabled && !element.hidden;
}

async function puppeteerEngine(options) {
  const browser = await puppeteer.launch({headless: true, ...options});
  return {
    async tab({width = 900, height = 900} = {}) {
      // A context of its own: nothing stored by one tab (the remembered author) is seen by the next.
      const context = await browser.createBrowserContext();
      const page = await context.newPage();
      await page.setViewport({width, height});
      const tab = {
        open: (url) => page.goto(url),
        choose: async (selector, file) => (await page.$(selector)).uploadFile(file),
        type: (selector, text) => page.type(selector, text),
        click: async (selector) => {
          await tab.waitFor(enabled, selector);
          await page.click(selector);
        },
        run: (fn, ...args) => page.evaluate(fn, ...args),
        waitFor: (fn, ...args) => poll(() => page.evaluate(fn, ...args), fn.name || String(fn)),
        screenshot: (png) => page.screenshot({path: png, fullPage: true}),
        close: () => context.close(),
      };
      return tab;
    },
    close: () => browser.close(),
  };
}

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

function miniBrowser() {
  for (const lib of ['/usr/lib', ...fs.readdirSync('/usr/lib').map((d) => path.join('/usr/lib', d))]) {
    for (const version of ['webkit2gtk-4.1', 'webkit2gtk-4.0', 'webkitgtk-6.0']) {
      const candidate = path.join(lib, version, 'MiniBrowser');
      if (fs.existsSync(candidate)) return candidate;
    }
  }
  throw new Error('MiniBrowser not found (Debian package webkit2gtk-driver)');
}

async function webkitEngine(driverPath) {
  const port = await freePort();
  const server = spawn(driverPath, [`--port=${port}`], {stdio: 'ignore'});
  await poll(() => new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1', () => { socket.end(); resolve(true); }).on('error', () => resolve(false));
  }), 'WebKitWebDriver', 10000);
  const sessions = [];
  return {
    async tab({width = 900, height = 900} = {}) {
      const driver = await new Builder().usingServer(`http://127.0.0.1:${port}/`).withCapabilities({
        browserName: 'MiniBrowser',
        'webkitgtk:browserOptions': {binary: miniBrowser(), args: ['--automation']},
      }).build();
      sessions.push(driver);
      await driver.manage().window().setRect({width, height});
      // WebDriver's scripts are function bodies: `fn` is called with the arguments passed on.
      const script = (fn) => (typeof fn === 'string' ? fn : `return (${fn}).apply(null, arguments);`);
      const tab = {
        open: (url) => driver.get(url),
        choose: async (selector, file) => (await driver.findElement(By.css(selector))).sendKeys(file),
        type: async (selector, text) => (await driver.findElement(By.css(selector))).sendKeys(text),
        click: async (selector) => {
          await tab.waitFor(enabled, selector);
          await (await driver.findElement(By.css(selector))).click();
        },
        run: (fn, ...args) => driver.executeScript(script(fn), ...args),
        waitFor: (fn, ...args) => poll(() => driver.executeScript(script(fn), ...args), fn.name || String(fn)),
        screenshot: async (png) => fs.writeFileSync(png, Buffer.from(await driver.takeScreenshot(), 'base64')),
        close: async () => {
          sessions.splice(sessions.indexOf(driver), 1);
          await driver.quit();
        },
      };
      return tab;
    },
    async close() {
      for (const driver of sessions.splice(0)) await driver.quit();
      server.kill();
    },
  };
}

// The engine of the given name: 'chromium', 'firefox' or 'webkit', from the given program.
function launch(name, program) {
  if (name === 'chromium') return puppeteerEngine({browser: 'chrome', executablePath: program, args: CHROMIUM_FLAGS});
  if (name === 'firefox') return puppeteerEngine({browser: 'firefox', executablePath: program, extraPrefsFirefox: FIREFOX_PREFS});
  if (name === 'webkit') return webkitEngine(program);
  throw new Error(`no engine ${name}`);
}

module.exports = {launch};
