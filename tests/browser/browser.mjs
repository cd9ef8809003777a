// Shared by the page test, the screenshot script and the benchmark: render
// documents with the built quiltview (engines.mjs opens them).
import { spawnSync } from 'node:child_process';
import { basename, dirname, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

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
