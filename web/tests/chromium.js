// Debian's chromium, headless, driven by playwright-core for the browser
// page's test in Chromium. The flags (engines.js uses them too) keep it from
// reaching for the network on its own (updates, sync and the like), and run
// it as root and as an ordinary user alike.
const {chromium} = require('playwright-core');

const FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'];

function launch(executablePath = process.env.CHROMIUM || '/usr/bin/chromium') {
  return chromium.launch({executablePath, args: FLAGS});
}

module.exports = {launch, FLAGS};
