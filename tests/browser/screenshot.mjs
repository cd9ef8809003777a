// Takes a picture of a real page: renders DOCUMENT with the built quiltview
// (QUILTVIEW names it), opens it in Chromium, clicks the given labels in turn
// and saves the treemap as a PNG. Prints the character set the browser chose.
//
//   QUILTVIEW=build/quiltview node tests/browser/screenshot.mjs [--http] \
//       DOCUMENT OUT.png [LABEL... | --all]
//
// A LABEL is a box's label text with its white space runs read as one space;
// the first visible box so labelled is clicked. --all unfolds every box.
// --http serves the page from 127.0.0.1 instead of opening the file, as a web
// server without a character set in its answer would.
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium, renderPage } from './browser.mjs';

const args = process.argv.slice(2);
const overHttp = args[0] === '--http';
if (overHttp) args.shift();
const [document, out, ...labels] = args;
if (!process.env.QUILTVIEW || !document || !out) {
  console.error(
    'usage: QUILTVIEW=BINARY node screenshot.mjs [--http] DOCUMENT OUT.png [LABEL... | --all]',
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
let chromium;
try {
  let url = renderPage(process.env.QUILTVIEW, document, pagesDir);
  if (overHttp) ({ url, server } = await serve(fileURLToPath(url)));
  chromium = await launchChromium();
  const page = await chromium.browser.newPage({ viewport: { width: 900, height: 600 } });
  page.setDefaultTimeout(5000);
  page.on('pageerror', (error) => {
    throw error;
  });
  await page.goto(url);
  if (labels.length === 1 && labels[0] === '--all') {
    // Each click opens one folded box whose label is in sight, until none is left.
    for (;;) {
      const onclick = await page.evaluate(() => {
        const found = [...document.querySelectorAll('div[onclick]')].find((d) => {
          const children = d.closest('table').rows[1]?.cells[0].querySelector('table');
          return d.checkVisibility() && children && !children.checkVisibility();
        });
        return found && found.getAttribute('onclick');
      });
      if (!onclick) break;
      await page.locator(`div[onclick="${onclick}"]`).click();
    }
  } else {
    for (const label of labels) {
      const onclick = await page.evaluate((wanted) => {
        const found = [...document.querySelectorAll('div[onclick]')].find(
          (d) => d.checkVisibility() && d.textContent.replace(/\s+/g, ' ').trim() === wanted,
        );
        return found && found.getAttribute('onclick');
      }, label);
      if (!onclick) throw new Error(`no visible label ${JSON.stringify(label)}`);
      await page.locator(`div[onclick="${onclick}"]`).click();
    }
  }
  // The picture is the root box with a small white margin around it; a box
  // wider than the window would be cut at the window's edge, so widen it.
  const root = page.locator('body > table').first();
  let box = await root.boundingBox();
  let width = Math.ceil(box.x + box.width + 8);
  while (width > page.viewportSize().width) {
    await page.setViewportSize({ width, height: page.viewportSize().height });
    box = await root.boundingBox();
    width = Math.ceil(box.x + box.width + 8);
  }
  await page.screenshot({
    path: out,
    fullPage: true,
    clip: { x: 0, y: 0, width, height: Math.ceil(box.y + box.height + 8) },
  });
  console.log(`${out}: ${url}, character set ${await page.evaluate(() => document.characterSet)}`);
} finally {
  await chromium?.close();
  server?.close();
  rmSync(pagesDir, { recursive: true, force: true });
}
