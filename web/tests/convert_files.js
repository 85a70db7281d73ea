// Runs the browser page's conversion (convert.js and the module, as the
// page's worker runs them) under node, for the tests and the benchmark.
//
//   node convert_files.js MODULE GENERATOR JOBS
//
// JOBS is a JSON file of a list of jobs, each one of
//   {"generate": {"seed": N, "size": BYTES}, "out": PATH}   a generated script
//   {"convert": {"script": PATH, "title": T, "author": A, "address": E, "chunk": BYTES,
//                "keeping": {"buffers": B, "partBytes": BYTES}}, "out": PATH}
// (author, address, chunk and keeping may be left out; chunk cuts the script
// into blocks of that size instead of those the file's stream gives; keeping
// is how the page's parts are kept, as convert.js's Conversion takes it). Prints a
// JSON list of what each conversion said: {encoding, rows, unreadable,
// seconds, type} or {error}.
const fs = require('fs');
const path = require('path');
const {convertScript} = require(path.join(__dirname, '..', 'convert.js'));

const [modulePath, generatorPath, jobsPath] = process.argv.slice(2);

// The file as a Blob whose stream hands on blocks of `chunk` bytes.
function fileOf(bytes, chunk) {
  const blob = new Blob([bytes]);
  if (!chunk) return blob;
  return {
    size: blob.size,
    slice: (...args) => blob.slice(...args),
    stream: () => {
      let at = 0;
      return new ReadableStream({
        pull(controller) {
          if (at >= bytes.length) return controller.close();
          controller.enqueue(new Uint8Array(bytes.subarray(at, at + chunk)));
          at += chunk;
        },
      });
    },
  };
}

async function main() {
  const taletab = await require(path.resolve(modulePath))();
  const generator = await require(path.resolve(generatorPath))();
  const said = [];
  for (const job of JSON.parse(fs.readFileSync(jobsPath, 'utf8'))) {
    if (job.generate) {
      const at = generator._taletab_generate(job.generate.seed, job.generate.size);
      fs.writeFileSync(job.out, generator.HEAPU8.subarray(at, at + generator._taletab_generated_size()));
      continue;
    }
    const {script, chunk, keeping, ...details} = job.convert;
    const started = process.hrtime.bigint();
    const result = await convertScript(taletab, fileOf(fs.readFileSync(script), chunk), details, keeping);
    if (result.error) {
      said.push({error: result.error});
      continue;
    }
    fs.writeFileSync(job.out, Buffer.from(await result.page.arrayBuffer()));
    const seconds = Number(process.hrtime.bigint() - started) / 1e9;
    const {encoding, rowCount, unreadable, page} = result;
    said.push({encoding, rows: rowCount, unreadable, seconds, type: page.type});
  }
  process.stdout.write(JSON.stringify(said));
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
