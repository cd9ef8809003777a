// Shared by the page test and the screenshot script: render documents with the
// built quiltview and open the pages in the machine's Chromium, headless.
import { spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

export const chromiumPath = '/usr/bin/chromium';

// No extra switches beyond these: the browser must behave as a plain local
// Chromium and never reach the network on its own.
export const chromiumFlags = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// Starts Chromium with a fresh profile directory. Only the flags above, the
// profile and the pipe Playwright drives the browser through are passed.
// Returns { browser, close }; close() ends the browser and removes the profile.
export async function launchChromium() {
  const profile = mkdtempSync(join(tmpdir(), 'quiltview-chromium-'));
  let browser;
  try {
    browser = await chromium.launch({
      executablePath: chromiumPath,
      headless: true,
      ignoreDefaultArgs: true,
      args: [...chromiumFlags, `--user-data-dir=${profile}`, '--remote-debugging-pipe'],
    });
  } catch (error) {
    rmSync(profile, { recursive: true, force: true });
    throw error;
  }
  return {
    browser,
    async close() {
      try {
        await browser.close();
      } finally {
        rmSync(profile, { recursive: true, force: true });
      }
    },
  };
}

// Runs quiltview on one document and returns the page's file:// URL. The page
// lands in outDir under the document's base name. quiltview runs in the
// document's folder so that the root label is the bare file name, whatever
// the checkout's path.
export function renderPage(quiltview, document, outDir) {
  const page = resolve(outDir, basename(document).replace(/\.[^.]*$/, '') + '.html');
  // The drawing is not read, and a large document's would overflow any buffer.
  // Run from the document's folder: a binary named relative to here must still be found.
  const binary = quiltview.includes('/') ? resolve(quiltview) : quiltview;
  const run = spawnSync(binary, ['-o', page, basename(document)], {
    cwd: dirname(document),
    encoding: 'utf8',
    stdio: ['ignore', 'ignore', 'pipe'],
  });
  if (run.error) throw run.error;
  if (run.status !== 0) {
    throw new Error(`quiltview exited with ${run.status} on ${document}: ${run.stderr}`);
  }
  return pathToFileURL(page).href;
}
