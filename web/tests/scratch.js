// The scripts a browser test makes, in its own folder, and the pages the
// program writes for them, to compare the browser page's with.
const {execFileSync} = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

// put(name, bytes): a file of `work`, its path returned. byProgram(script,
// title): the page `program` writes for the script under the name `title`.
function scratch(work, program) {
  return {
    put(name, bytes) {
      const file = path.join(work, name);
      fs.writeFileSync(file, bytes);
      return file;
    },
    byProgram(script, title) {
      const folder = fs.mkdtempSync(path.join(work, 'program-'));
      fs.copyFileSync(script, path.join(folder, 'script.txt'));
      execFileSync(program, ['script.txt', title], {cwd: folder});
      return fs.readFileSync(path.join(folder, title));
    },
  };
}

module.exports = {scratch};
