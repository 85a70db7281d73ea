// Debian's chromium, headless, driven by playwright-core: for the browser
// page's test, its screenshot and its benchmark. The flags keep it from
// reaching for the network on its own (updates, sync and the like).
const {chromium} = require('playwright-core');

const FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'];

function launch(executablePath = process.env.CHROMIUM || '/usr/bin/chromium') {
  return chromium.launch({executablePath, args: FLAGS});
}

module.exports = {launch};
