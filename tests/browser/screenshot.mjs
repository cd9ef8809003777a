// Takes a picture of a real page: renders DOCUMENT with the built quiltview
// (QUILTVIEW names it), opens it in a browser engine (Chromium unless --engine
// names firefox or webkit), clicks the given labels in turn and saves the
// treemap as a PNG. Prints the engine and the character set it chose.
//
//   QUILTVIEW=build/quiltview node tests/browser/screenshot.mjs [--engine E] [--http] \
//       DOCUMENT OUT.png [LABEL... | --all]
//
// A LABEL is a box's label text with its white space runs read as one space;
// the first visible box so labelled is clicked. --all unfolds every box.
// --http serves the page from 127.0.0.1 instead of opening the file, as a web
// server without a character set in its answer would.
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { renderPage } from './browser.mjs';
import { launch } from './engines.mjs';

const args = process.argv.slice(2);
let engine = 'chromium';
if (args[0] === '--engine') [, engine] = args.splice(0, 2);
const overHttp = args[0] === '--http';
if (overHttp) args.shift();
const [document, out, ...labels] = args;
if (!process.env.QUILTVIEW || !document || !out) {
  console.error(
    'usage: QUILTVIEW=BINARY node screenshot.mjs [--engine chromium|firefox|webkit] [--http] DOCUMENT OUT.png [LABEL... | --all]',
  );
  process.exit(2);
}

// Serves one file's bytes, as text/html with no charset, and nothing else.
function serve(file) {
  const body = readFileSync(file);
  const server = createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html' });
    response.end(body);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      resolve({ url: `http://127.0.0.1:${server.address().port}/`, server });
    });
  });
}

const pagesDir = mkdtempSync(join(tmpdir(), 'quiltview-shot-'));
let server;
let browser;
try {
  let url = renderPage(process.env.QUILTVIEW, document, pagesDir);
  if (overHttp) ({ url, server } = await serve(fileURLToPath(url)));
  browser = await launch(engine);
  const page = await browser.open({ width: 900, height: 600 });
  await page.goto(url);
  const click = async (onclick) => {
    await page.click(`div[onclick="${onclick}"]`);
    const errors = await page.errors();
    if (errors.length > 0) throw new Error(`the page raised ${errors.join('; ')}`);
  };
  if (labels.length === 1 && labels[0] === '--all') {
    // Each click opens one folded box whose label is in sight, until none is left.
    for (;;) {
      const onclick = await page.evaluate(() => {
        const found = [...document.querySelectorAll('div[onclick]')].find((d) => {
          const children = d.closest('table').rows[1]?.cells[0].querySelector('table');
          return d.checkVisibility() && children && !children.checkVisibility();
        });
        return found ? found.getAttribute('onclick') : null;
      });
      if (!onclick) break;
      await click(onclick);
    }
  } else {
    for (const label of labels) {
      const onclick = await page.evaluate((wanted) => {
        const found = [...document.querySelectorAll('div[onclick]')].find(
          (d) => d.checkVisibility() && d.textContent.replace(/\s+/g, ' ').trim() === wanted,
        );
        return found ? found.getAttribute('onclick') : null;
      }, label);
      if (!onclick) throw new Error(`no visible label ${JSON.stringify(label)}`);
      await click(onclick);
    }
  }
  // The picture is the root box with a small white margin around it: the
  // viewport is made that size, which a wide box widens.
  // A click may have scrolled the page: the picture starts at its top left.
  const rootBox = () =>
    page.evaluate(() => {
      window.scrollTo(0, 0);
      const r = document.querySelector('table').getBoundingClientRect();
      return [Math.ceil(r.right + 8), Math.ceil(r.bottom + 8)];
    });
  let [width, height] = await rootBox();
  for (let tries = 0; tries < 5; tries++) {
    await page.resize(Math.max(width, 200), Math.max(height, 100));
    const [w, h] = await rootBox();
    if (w === width && h === height) break;
    [width, height] = [w, h];
  }
  await rootBox();
  writeFileSync(out, await page.screenshot());
  const characterSet = await page.evaluate(() => document.characterSet);
  console.log(`${out}: ${browser.version}, ${url}, character set ${characterSet}`);
} finally {
  await browser?.close();
  server?.close();
  rmSync(pagesDir, { recursive: true, force: true });
}
