// End-to-end test of the page the way its users meet it: rendered by the built
// quiltview, opened in Chromium, and clicked. QUILTVIEW names the binary.
import * as nodeTest from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

// CTest gives each test a process of its own (run.sh). A test's full name is its
// describe block's name and its own, joined by " > ". QUILTVIEW_BROWSER_LIST=1
// prints every full name and runs nothing, so listing needs neither Chromium nor
// the npm packages; QUILTVIEW_BROWSER_TEST=NAME registers only the test so named.
const listing = process.env.QUILTVIEW_BROWSER_LIST === '1';
const only = process.env.QUILTVIEW_BROWSER_TEST;
const suites = [];
const listed = new Set();
let selected = 0;

function describe(name, body) {
  suites.push(name);
  try {
    body();
  } finally {
    suites.pop();
  }
}

function test(name, body) {
  const full = [...suites, name].join(' > ');
  if (listing) {
    // One CTest entry runs everything its name selects: names must be unique.
    if (listed.has(full)) throw new Error(`two browser tests are named ${JSON.stringify(full)}`);
    listed.add(full);
    console.log(full);
  } else if (only === undefined || full === only) {
    selected++;
    nodeTest.test(full, body);
  }
}

const before = listing ? () => {} : nodeTest.before;
const after = listing ? () => {} : nodeTest.after;

const here = dirname(fileURLToPath(import.meta.url));
const documents = {
  nested: join(here, 'nested.xml'),
  catalog: resolve(here, '../../examples/catalog.xml'),
};

// Grid boxes are filled by depth in this cycle; leaves are always white. The
// browser reports computed colours as rgb(), whatever form the page used.
const depthCycle = ['yellow', 'orange', '#9ACD32', '#FFD700', '#FF6347'];
const rgb = {
  yellow: 'rgb(255, 255, 0)',
  orange: 'rgb(255, 165, 0)',
  '#9ACD32': 'rgb(154, 205, 50)',
  '#FFD700': 'rgb(255, 215, 0)',
  '#FF6347': 'rgb(255, 99, 71)',
  white: 'rgb(255, 255, 255)',
};

// What a click on a leaf's label does: the script finds no element for it.
const leafClickError = "Cannot read properties of null (reading 'style')";

let chromium;
let pagesDir;
const urls = {};

before(async () => {
  const { launchChromium, renderPage } = await import('./browser.mjs');
  const quiltview = process.env.QUILTVIEW;
  assert.ok(quiltview, 'QUILTVIEW must name the quiltview binary');
  pagesDir = mkdtempSync(join(tmpdir(), 'quiltview-pages-'));
  for (const [name, document] of Object.entries(documents)) {
    urls[name] = renderPage(quiltview, document, pagesDir);
  }
  chromium = await launchChromium();
});

after(async () => {
  try {
    await chromium?.close();
  } finally {
    if (pagesDir) rmSync(pagesDir, { recursive: true, force: true });
  }
});

// Opens one rendered page in a fresh context. Records page errors and every
// request, so a test can check that nothing else failed and nothing was fetched.
async function open(name) {
  const page = await chromium.browser.newPage();
  // Everything is local: a label that cannot be clicked fails fast.
  page.setDefaultTimeout(5000);
  const errors = [];
  const requests = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('request', (request) => requests.push(request.url()));
  await page.goto(urls[name]);
  return { page, errors, requests };
}

async function close({ page, requests }, name) {
  assert.deepEqual(requests, [urls[name]], 'the page loads nothing but itself');
  await page.close();
}

// Reads the live page: every box (found through its label), its depth in the
// nesting of children tables, its children table, its computed fill and
// whether its label is visible; and which children tables are visible.
function readPage(page) {
  return page.evaluate(() => {
    const isChildrenTable = (e) => e.tagName === 'TABLE' && e.id.startsWith('boxId');
    const boxes = [...document.querySelectorAll('div[onclick]')].map((label) => {
      const box = label.closest('table');
      let depth = 0;
      for (let e = box.parentElement; e; e = e.parentElement) if (isChildrenTable(e)) depth++;
      const children = box.rows.length > 1 ? box.rows[1].cells[0].querySelector('table') : null;
      return {
        onclick: label.getAttribute('onclick'),
        key: label.textContent.replace(/\s+/g, ' ').trim(),
        shown: label.innerText,
        depth,
        rows: box.rows.length,
        childrenTable: children && children.id,
        childrenStyle: children && children.getAttribute('style'),
        fill: getComputedStyle(box).backgroundColor,
        labelVisible: label.checkVisibility(),
      };
    });
    const tables = [...document.querySelectorAll('table')].filter(isChildrenTable);
    return {
      boxes,
      childrenTables: tables.map((t) => t.id),
      openTables: tables.filter((t) => t.checkVisibility()).map((t) => t.id).sort(),
    };
  });
}

const idOf = (box) => Number(/^displayBox\((-?\d+)\)$/.exec(box.onclick)[1]);

function boxByKey(state, key) {
  const found = state.boxes.filter((b) => b.key === key);
  assert.equal(found.length, 1, `one box labelled ${JSON.stringify(key)}`);
  return found[0];
}

async function clickLabel(page, box) {
  await page.locator(`div[onclick="displayBox(${idOf(box)})"]`).click();
}

// Clicks the labels of the boxes named by keys, one after the other.
async function unfold(page, keys) {
  for (const key of keys) await clickLabel(page, boxByKey(await readPage(page), key));
  return readPage(page);
}

// Clicks every folded grid box whose label is visible until none is left.
// Each click must open that box's table, and there are no more clicks than
// grid boxes, so the walk ends even on a broken page.
async function unfoldAll(page) {
  for (let clicks = 0; ; clicks++) {
    const state = await readPage(page);
    const folded = state.boxes.find(
      (b) => b.labelVisible && b.childrenTable && !state.openTables.includes(b.childrenTable),
    );
    if (!folded) return state;
    assert.ok(clicks < state.childrenTables.length, 'one click per grid box is enough');
    await clickLabel(page, folded);
    const opened = (await readPage(page)).openTables;
    assert.ok(opened.includes(folded.childrenTable), `${folded.key} unfolds`);
  }
}

const catalogRoot = '<catalog xmlns="urn:example:catalog" xmlns:dc="urn:example:terms" />';
const nestedRoot = '<d1 kind="x &lt; y" />';

for (const name of Object.keys(documents)) {
  describe(`page of ${name}`, () => {
    test('every grid box owns the hidden children table named after its number', async () => {
      const opened = await open(name);
      const state = await readPage(opened.page);
      const grids = state.boxes.filter((b) => b.childrenTable !== null);
      assert.ok(grids.length >= 5, 'the document nests several grid boxes');
      for (const box of state.boxes) {
        if (box.childrenTable === null) {
          assert.equal(box.rows, 1, `leaf ${box.key} has only its label row`);
        } else {
          assert.equal(box.rows, 2, `grid ${box.key} has a label row and a children row`);
          assert.equal(box.childrenTable, `boxId${idOf(box)}`);
          assert.equal(box.childrenStyle, 'display: none;');
        }
      }
      assert.deepEqual(
        [...state.childrenTables].sort(),
        grids.map((b) => b.childrenTable).sort(),
        'no children table without its box, none shared',
      );
      assert.equal(new Set(state.boxes.map(idOf)).size, state.boxes.length, 'box numbers are unique');
      await close(opened, name);
    });

    test('at first only the root label is visible and every children table is hidden', async () => {
      const opened = await open(name);
      const state = await readPage(opened.page);
      assert.deepEqual(state.openTables, []);
      assert.deepEqual(
        state.boxes.filter((b) => b.labelVisible).map((b) => b.onclick),
        ['displayBox(1)'],
      );
      assert.equal(state.boxes[0].depth, 0);
      assert.deepEqual(opened.errors, []);
      await close(opened, name);
    });

    test('the root label shows exactly boxId1, then hides it again', async () => {
      const opened = await open(name);
      const root = (await readPage(opened.page)).boxes[0];
      await clickLabel(opened.page, root);
      const shown = await readPage(opened.page);
      assert.deepEqual(shown.openTables, ['boxId1']);
      assert.deepEqual(
        shown.boxes.filter((b) => b.labelVisible).map((b) => b.depth),
        [0, ...shown.boxes.filter((b) => b.depth === 1).map(() => 1)],
        'the root label and the labels of its children, nothing deeper',
      );
      await clickLabel(opened.page, root);
      const hidden = await readPage(opened.page);
      assert.deepEqual(hidden.openTables, []);
      assert.deepEqual(
        hidden.boxes.filter((b) => b.labelVisible).map((b) => b.onclick),
        ['displayBox(1)'],
      );
      assert.deepEqual(opened.errors, []);
      await close(opened, name);
    });

    test('unfolded, grid boxes follow the depth cycle and leaves are white', async () => {
      const opened = await open(name);
      const state = await unfoldAll(opened.page);
      assert.ok(state.boxes.every((b) => b.labelVisible), 'every label can be reached');
      assert.deepEqual(state.openTables, [...state.childrenTables].sort());
      for (const box of state.boxes) {
        const colour = box.childrenTable ? depthCycle[box.depth % depthCycle.length] : 'white';
        assert.equal(box.fill, rgb[colour], `${box.key} at depth ${box.depth}`);
      }
      assert.deepEqual(opened.errors, []);
      await close(opened, name);
    });
  });
}

test('down one path, each label shows its own children table and no other', async () => {
  const opened = await open('nested');
  const path = ['nested.xml', nestedRoot, '<d2 />', '<d3 />', '<d4 />', '<d5 />', '<d6 />'];
  let state = await readPage(opened.page);
  for (const key of path) {
    const box = boxByKey(state, key);
    const before = state.openTables;
    await clickLabel(opened.page, box);
    state = await readPage(opened.page);
    assert.deepEqual(state.openTables, [...before, `boxId${idOf(box)}`].sort(), key);
  }
  // Folding a box in the middle hides its whole subtree; unfolding it again
  // brings the subtree back as it was, since the inner tables kept their state.
  const open6 = state.openTables;
  const d3 = boxByKey(state, '<d3 />');
  await clickLabel(opened.page, d3);
  state = await readPage(opened.page);
  assert.deepEqual(
    state.openTables,
    ['nested.xml', nestedRoot, '<d2 />'].map((k) => `boxId${idOf(boxByKey(state, k))}`).sort(),
  );
  assert.equal(boxByKey(state, 'deep leaf').labelVisible, false);
  await clickLabel(opened.page, d3);
  assert.deepEqual((await readPage(opened.page)).openTables, open6);
  assert.deepEqual(opened.errors, []);
  await close(opened, 'nested');
});

test('a nested grid box of the catalog shows its own table beside open siblings', async () => {
  const opened = await open('catalog');
  let state = await unfold(opened.page, ['catalog.xml', catalogRoot, '<book id="b3" />']);
  const before = state.openTables;
  const b1 = boxByKey(state, '<book id="b1" dc:lang="en" />');
  await clickLabel(opened.page, b1);
  state = await readPage(opened.page);
  assert.deepEqual(state.openTables, [...before, `boxId${idOf(b1)}`].sort());
  assert.deepEqual(opened.errors, []);
  await close(opened, 'catalog');
});

test('the grid boxes of one path take the cycle colours, wrapping after five', async () => {
  const opened = await open('nested');
  const state = await unfoldAll(opened.page);
  const rows = [
    ['nested.xml', 0, 'yellow'],
    [nestedRoot, 1, 'orange'],
    ['<d2 />', 2, '#9ACD32'],
    ['<d3 />', 3, '#FFD700'],
    ['<d4 />', 4, '#FF6347'],
    ['<d5 />', 5, 'yellow'],
    ['<d6 />', 6, 'orange'],
    ['deep leaf', 7, 'white'],
    ['<d6b />', 6, 'white'],
    ['<note />', 2, '#9ACD32'],
    ['a <b c d', 3, 'white'],
  ];
  for (const [key, depth, colour] of rows) {
    const box = boxByKey(state, key);
    assert.deepEqual([box.depth, box.fill], [depth, rgb[colour]], key);
  }
  await close(opened, 'nested');
});

test('a leaf label changes nothing visible and reports only the missing element', async () => {
  const rows = [
    [
      'catalog',
      ['catalog.xml', catalogRoot, '<book id="b3" />', '<excerpt />'],
      [
        'if (a < b && c > d) return;',
        '<?xml version="1.0" encoding="UTF-8" ?>',
        '<!DOCTYPE catalog [ <!ENTITY publisher "Northwind Press"> ]>',
      ],
    ],
    [
      'nested',
      ['nested.xml', nestedRoot, '<d2 />', '<d3 />', '<d4 />', '<d5 />', '<d6 />'],
      ['<d6b />', 'deep leaf'],
    ],
  ];
  for (const [name, path, leaves] of rows) {
    const opened = await open(name);
    const state = await unfold(opened.page, path);
    const picture = await opened.page.screenshot({ fullPage: true });
    for (const [n, key] of leaves.entries()) {
      await clickLabel(opened.page, boxByKey(state, key));
      const after = await readPage(opened.page);
      assert.deepEqual(after, state, key);
      assert.ok(picture.equals(await opened.page.screenshot({ fullPage: true })), key);
      assert.deepEqual(opened.errors, Array(n + 1).fill(leafClickError), key);
    }
    await close(opened, name);
  }
});

test('labels show their text as written: lines, runs of spaces and "<"', async () => {
  const rows = [
    ['nested', ['nested.xml', nestedRoot, '<note />'], 'a <b c d', 'a <b\n  c  d'],
    ['nested', ['nested.xml'], nestedRoot, nestedRoot],
    [
      'catalog',
      ['catalog.xml'],
      '<!DOCTYPE catalog [ <!ENTITY publisher "Northwind Press"> ]>',
      '<!DOCTYPE catalog [\n  <!ENTITY publisher "Northwind Press">\n]>',
    ],
    [
      'catalog',
      ['catalog.xml', catalogRoot, '<book id="b1" dc:lang="en" />', '<note />'],
      'First printing has a misprinted map',
      'First printing\nhas a misprinted map',
    ],
    [
      'catalog',
      ['catalog.xml', catalogRoot, '<book id="b3" />', '<excerpt />'],
      'if (a < b && c > d) return;',
      'if (a < b && c > d) return;',
    ],
  ];
  for (const [name, path, key, expected] of rows) {
    const opened = await open(name);
    const box = boxByKey(await unfold(opened.page, path), key);
    assert.ok(box.labelVisible, key);
    // The page keeps spaces with no-break spaces; on screen they are spaces.
    assert.equal(box.shown.replaceAll('\u00a0', ' '), expected);
    assert.deepEqual(opened.errors, []);
    await close(opened, name);
  }
});

// A name that selects no test fails rather than passing as an empty run.
if (only !== undefined && selected === 0) {
  nodeTest.test(only, () => assert.fail(`no browser test is named ${JSON.stringify(only)}`));
}
