// Each browser engine's limits on quiltview's pages: for every page given, in a
// fresh browser of each engine, the time until the page is shown, the time one
// click on the root label takes until its table is shown, and the peak memory
// of the browser's processes; then the largest page each engine showed within
// a minute. Run by bench/browsers.sh, which makes the pages:
//
//   node bench/browsers.mjs PAGE.html...       (pages in growing size)
//
// "Shown" runs from asking for the page until the engine has drawn two frames
// after its load event; "click" from the click (a real one, through the engine's
// driver) until two frames after the root's table is displayed. Both include a
// round trip through the driver. Memory is the proportional set size (PSS,
// shared pages split between the processes that map them) summed over the
// browser's processes, sampled every 50 ms; the X server and the WebDriver
// server of WebKit are not counted.
import { readdirSync, readFileSync, statSync } from 'node:fs';
import { pathToFileURL } from 'node:url';
import { engines, launch } from '../tests/browser/engines.mjs';

const pages = process.argv.slice(2);
if (pages.length === 0) {
  console.error('usage: node bench/browsers.mjs PAGE.html...');
  process.exit(2);
}
const minute = 60000;

function processTable() {
  const table = [];
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      // The command name is in parentheses and may hold spaces.
      const close = stat.lastIndexOf(')');
      const name = stat.slice(stat.indexOf('(') + 1, close);
      const ppid = Number(stat.slice(close + 2).split(' ')[1]);
      table.push({ pid: Number(entry), ppid, name });
    } catch {
      // Gone meanwhile.
    }
  }
  return table;
}

const notBrowser = new Set(['Xvfb', 'WebKitWebDriver']);

// The browser's processes: every descendant of this one but the X server and
// the WebDriver server.
function browserProcesses() {
  const table = processTable();
  const children = new Map();
  for (const p of table) children.set(p.ppid, [...(children.get(p.ppid) ?? []), p]);
  const found = [];
  const walk = (pid) => {
    for (const p of children.get(pid) ?? []) {
      if (!notBrowser.has(p.name)) found.push(p.pid);
      walk(p.pid);
    }
  };
  walk(process.pid);
  return found;
}

function kilobytes(pid) {
  try {
    return Number(/^Pss:\s+(\d+)/m.exec(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'))[1]);
  } catch {
    try {
      return Number(/^VmRSS:\s+(\d+)/m.exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
    } catch {
      return 0;
    }
  }
}

function watchMemory() {
  let peak = 0;
  const sample = () => {
    peak = Math.max(peak, browserProcesses().reduce((sum, pid) => sum + kilobytes(pid), 0));
  };
  const timer = setInterval(sample, 50);
  return {
    stop() {
      clearInterval(timer);
      sample();
      return peak;
    },
  };
}

const twoFrames = () =>
  new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(() => resolve(true))));

// Rejects after ms: a page that takes longer counts as not shown in time.
function within(ms, promise) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error(`over ${ms / 1000} s`)), ms);
    }),
  ]).finally(() => clearTimeout(timer));
}

async function measure(engine, page) {
  const memory = watchMemory();
  const browser = await launch(engine);
  const row = { shown: null, click: null, note: '' };
  try {
    const tab = await browser.open({ width: 1280, height: 720 });
    const start = performance.now();
    try {
      await within(minute, (async () => {
        await tab.goto(pathToFileURL(page).href, minute);
        await tab.evaluate(twoFrames);
      })());
      row.shown = (performance.now() - start) / 1000;
      const clicked = performance.now();
      await within(minute, (async () => {
        await tab.click('div[onclick="displayBox(1)"]', minute);
        const open = await tab.evaluate(() => document.getElementById('boxId1').checkVisibility());
        if (!open) throw new Error('the click did not unfold the root');
        await tab.evaluate(twoFrames);
      })());
      row.click = (performance.now() - clicked) / 1000;
    } catch (error) {
      row.note = error.message.split('\n')[0].slice(0, 80);
    }
    const seen = browser.offNetwork();
    if (seen.length > 0) row.note += ` (asked the network for ${seen.join(', ')})`;
  } finally {
    await within(minute, browser.close()).catch(() => {});
    row.peakMB = memory.stop() / 1024;
  }
  return row;
}

const mb = (bytes) => (bytes / 1e6).toFixed(bytes < 1e7 ? 2 : 0);
const seconds = (s) => (s === null ? '-' : `${s.toFixed(2)} s`);
const inputOf = (page) => {
  try {
    return mb(statSync(page.replace(/\.html$/, '.xml')).size) + ' MB';
  } catch {
    return '';
  }
};

console.log('| engine | input | page | shown | click on the root | peak memory | note |');
console.log('|---|---|---|---|---|---|---|');
const largest = {};
for (const engine of engines) {
  const probe = await launch(engine);
  const version = probe.version;
  await probe.close();
  for (const page of pages) {
    const row = await measure(engine, page);
    if (row.click !== null) largest[engine] = page;
    console.log(
      `| ${version} | ${inputOf(page)} | ${mb(statSync(page).size)} MB | ${seconds(row.shown)} | ` +
        `${seconds(row.click)} | ${row.peakMB.toFixed(0)} MB | ${row.note.trim()} |`,
    );
    // A larger page will not do better.
    if (row.click === null) break;
  }
}
for (const engine of engines) {
  const page = largest[engine];
  console.log(
    `${engine}: largest page shown and clicked within a minute: ` +
      (page ? `${mb(statSync(page).size)} MB (input ${inputOf(page)})` : 'none of these'),
  );
}
