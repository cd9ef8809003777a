// End-to-end test of the page the way its users meet it: rendered by the built
// quiltview, opened in a browser engine, and clicked. QUILTVIEW names the binary.
import * as nodeTest from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { engines } from './engines.mjs';

// CTest gives each test a process of its own (run.sh), in one engine. A test's
// full name is its describe block's name and its own, joined by " > ".
// QUILTVIEW_BROWSER_LIST=1 prints "ENGINE FULL NAME" for every engine and test
// and runs nothing, so listing needs neither a browser nor the npm packages;
// QUILTVIEW_BROWSER_ENGINE=ENGINE QUILTVIEW_BROWSER_TEST=NAME registers only the
// test so named, run in that engine.
const listing = process.env.QUILTVIEW_BROWSER_LIST === '1';
const only = process.env.QUILTVIEW_BROWSER_TEST;
const engine = process.env.QUILTVIEW_BROWSER_ENGINE ?? 'chromium';
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
    for (const each of engines) console.log(`${each} ${full}`);
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
const otherDocuments = {
  markup: join(here, 'markup.xml'),
  utf8: join(here, 'utf8.xml'),
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

// What a click on a leaf's label does: the script finds no element for it. Each
// engine words it its own way; WebKit hides the message of an error raised in a
// file:// page from the page's own error event.
const leafClickError = {
  chromium: "Cannot read properties of null (reading 'style')",
  firefox: `TypeError: can't access property "style", row is null`,
  webkit: 'Script error.',
}[engine];

let browser;
let pagesDir;
const urls = {};

// A UTF-8 document whose first character above ASCII comes 400 KB in, past what
// the engines look at when they guess the encoding of a page that names none.
function lateDocument(dir) {
  const file = join(dir, 'late.xml');
  const filler = '<p>plain text</p>\n'.repeat(400000 / 18);
  writeFileSync(file, `<doc>\n${filler}<p>events\u2014such</p>\n</doc>\n`);
  return file;
}

// The two ways the README gives of telling the browser that a page is UTF-8, as
// the shell commands it prints, run on the page in the folder of its copies.
const utf8Advice = {
  bom: `printf '\\357\\273\\277' | cat - "$1" > "$2"`,
  meta: `sed '1a <meta charset="utf-8">' "$1" > "$2"`,
};

before(async () => {
  const { renderPage } = await import('./browser.mjs');
  const { launch } = await import('./engines.mjs');
  const quiltview = process.env.QUILTVIEW;
  assert.ok(quiltview, 'QUILTVIEW must name the quiltview binary');
  pagesDir = mkdtempSync(join(tmpdir(), 'quiltview-pages-'));
  const all = { ...documents, ...otherDocuments, late: lateDocument(pagesDir) };
  for (const [name, document] of Object.entries(all)) {
    urls[name] = renderPage(quiltview, document, pagesDir);
  }
  for (const name of ['utf8', 'late']) {
    for (const [way, command] of Object.entries(utf8Advice)) {
      const page = fileURLToPath(urls[name]);
      const copy = page.replace(/\.html$/, `-${way}.html`);
      const run = spawnSync('sh', ['-c', command, 'sh', page, copy], { encoding: 'utf8' });
      assert.equal(run.status, 0, run.stderr);
      urls[`${name}-${way}`] = pathToFileURL(copy).href;
    }
  }
  browser = await launch(engine);
});

after(async () => {
  try {
    await browser?.close();
  } finally {
    if (pagesDir) rmSync(pagesDir, { recursive: true, force: true });
  }
});

// Opens one rendered page in a fresh page of the engine.
async function open(name) {
  const page = await browser.open();
  await page.goto(urls[name]);
  return { page, name };
}

// Nothing was fetched but the page itself (Firefox reports no request for a
// file), and nothing at all reached the proxy: neither the page nor the browser
// asked for a network address while the page was open.
async function close({ page, name }) {
  const requests = await page.requests();
  assert.deepEqual(
    requests.filter((url) => url !== urls[name]),
    [],
    'the page loads nothing but itself',
  );
  assert.deepEqual(browser.offNetwork(), [], 'no request for a network address');
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
        // Each side as "width style colour"; one entry when all four agree.
        borders: [
          ...new Set(
            ['Top', 'Right', 'Bottom', 'Left'].map((side) => {
              const style = getComputedStyle(box);
              return [`border${side}Width`, `border${side}Style`, `border${side}Color`]
                .map((p) => style[p])
                .join(' ');
            }),
          ),
        ],
        childrenBorder: children && getComputedStyle(children).borderTopStyle,
        labelVisible: label.checkVisibility(),
        // Takes room on the screen: what a person sees, beside what the engine says.
        hasArea: box.getBoundingClientRect().width * box.getBoundingClientRect().height > 0,
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

// The whole page as the engine draws it: the viewport grown to the page's size.
async function pictureOf(page) {
  const [width, height] = await page.evaluate(() => [
    document.documentElement.scrollWidth,
    document.documentElement.scrollHeight,
  ]);
  await page.resize(width, height);
  return page.screenshot();
}

// A real click, at the label's place on the screen.
async function clickLabel(page, box) {
  await page.click(`div[onclick="displayBox(${idOf(box)})"]`);
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
      await close(opened);
    });

    test('at first only the root label is visible and every children table is hidden', async () => {
      const opened = await open(name);
      const state = await readPage(opened.page);
      assert.deepEqual(state.openTables, []);
      assert.deepEqual(
        state.boxes.filter((b) => b.labelVisible).map((b) => b.onclick),
        ['displayBox(1)'],
      );
      assert.deepEqual(
        state.boxes.filter((b) => b.hasArea).map((b) => b.onclick),
        ['displayBox(1)'],
        'only the root box takes room on the screen',
      );
      assert.equal(state.boxes[0].depth, 0);
      assert.deepEqual(await opened.page.errors(), []);
      await close(opened);
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
      assert.deepEqual(await opened.page.errors(), []);
      await close(opened);
    });

    test('unfolded, grid boxes follow the depth cycle and leaves are white', async () => {
      const opened = await open(name);
      const state = await unfoldAll(opened.page);
      assert.ok(state.boxes.every((b) => b.labelVisible), 'every label can be reached');
      assert.deepEqual(state.openTables, [...state.childrenTables].sort());
      for (const box of state.boxes) {
        const colour = box.childrenTable ? depthCycle[box.depth % depthCycle.length] : 'white';
        assert.equal(box.fill, rgb[colour], `${box.key} at depth ${box.depth}`);
        assert.deepEqual(box.borders, ['2px solid rgb(0, 0, 0)'], box.key);
        assert.ok(box.hasArea, box.key);
        if (box.childrenTable) assert.equal(box.childrenBorder, 'none', box.key);
      }
      assert.deepEqual(await opened.page.errors(), []);
      await close(opened);
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
  assert.deepEqual(await opened.page.errors(), []);
  await close(opened);
});

test('a nested grid box of the catalog shows its own table beside open siblings', async () => {
  const opened = await open('catalog');
  let state = await unfold(opened.page, ['catalog.xml', catalogRoot, '<book id="b3" />']);
  const before = state.openTables;
  const b1 = boxByKey(state, '<book id="b1" dc:lang="en" />');
  await clickLabel(opened.page, b1);
  state = await readPage(opened.page);
  assert.deepEqual(state.openTables, [...before, `boxId${idOf(b1)}`].sort());
  assert.deepEqual(await opened.page.errors(), []);
  await close(opened);
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
  await close(opened);
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
    const picture = await pictureOf(opened.page);
    for (const [n, key] of leaves.entries()) {
      await clickLabel(opened.page, boxByKey(state, key));
      const after = await readPage(opened.page);
      assert.deepEqual(after, state, key);
      assert.ok(picture.equals(await pictureOf(opened.page)), key);
      assert.deepEqual(await opened.page.errors(), Array(n + 1).fill(leafClickError), key);
    }
    await close(opened);
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
    [
      'markup',
      ['markup.xml', '<labels />', '<lines />'],
      'first line second line after a blank line',
      'first line\nsecond line\n\nafter a blank line',
    ],
  ];
  for (const [name, path, key, expected] of rows) {
    const opened = await open(name);
    const box = boxByKey(await unfold(opened.page, path), key);
    assert.ok(box.labelVisible, key);
    // The page keeps spaces with no-break spaces; on screen they are spaces.
    assert.equal(box.shown.replaceAll('\u00a0', ' '), expected);
    assert.deepEqual(await opened.page.errors(), []);
    await close(opened);
  }
});

test('labels written as markup show as text and never run', async () => {
  const opened = await open('markup');
  const state = await unfoldAll(opened.page);
  const labels = [
    '<script>window.quiltviewRan = 1</script>',
    '<script>window.quiltviewRan = 3</script>',
    '<attr note="&lt;img src=&quot;x.png&quot; onerror=&quot;window.quiltviewRan = 2&quot;&gt;" />',
    '&lt; is written &amp;lt;',
  ];
  for (const text of labels) {
    const box = boxByKey(state, text);
    assert.ok(box.labelVisible, text);
    assert.equal(box.shown.replaceAll('\u00a0', ' ').trim(), text);
  }
  const page = await opened.page.evaluate(() => ({
    ran: typeof window.quiltviewRan,
    scripts: document.scripts.length,
    images: document.images.length,
    insideLabels: [...new Set([...document.querySelectorAll('div[onclick] *')].map((e) => e.tagName))],
  }));
  assert.deepEqual(page, { ran: 'undefined', scripts: 1, images: 0, insideLabels: ['BR'] });
  assert.deepEqual(await opened.page.errors(), []);
  await close(opened);
});

// The README's advice, in every engine: the bytes are UTF-8 and the page names no
// encoding, so the engine guesses (from a file, Chromium and WebKit take the late
// page for windows-1252, WebKit the small one too; Firefox reads both as UTF-8);
// a byte order mark or a meta line in a copy makes every engine read it as UTF-8.
describe('a UTF-8 page told its encoding', () => {
  const rows = [
    ['utf8', ['Dessert à la vanille, 4,50 €', 'Ελληνική κουζίνα', 'Борщ со сметаной', '日本料理 🍣']],
    ['late', ['events\u2014such']],
  ];
  for (const [name, texts] of rows) {
    for (const way of Object.keys(utf8Advice)) {
      test(`${name}.xml's page with the ${way} line`, async () => {
        const opened = await open(`${name}-${way}`);
        const read = await opened.page.evaluate(() => ({
          characterSet: document.characterSet,
          labels: [...document.querySelectorAll('div[onclick]')].map((d) =>
            d.textContent.replace(/\s+/g, ' ').trim(),
          ),
        }));
        assert.equal(read.characterSet, 'UTF-8');
        for (const text of texts) assert.ok(read.labels.includes(text), text);
        // The copy is still the page: its root label unfolds the root's table.
        await clickLabel(opened.page, { onclick: 'displayBox(1)' });
        assert.deepEqual((await readPage(opened.page)).openTables, ['boxId1']);
        assert.deepEqual(await opened.page.errors(), []);
        await close(opened);
      });
    }
  }
});

// The check that nothing reaches the network can fail: a request the page makes
// for a documentation-only address arrives at the engine's proxy.
test('the watch on the network sees a request the page makes', async () => {
  const opened = await open('nested');
  await opened.page.evaluate(() => {
    new Image().src = 'http://192.0.2.1/probe.png';
  });
  for (let waited = 0; waited < 5000 && browser.offNetwork().length === 0; waited += 100) {
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  const seen = browser.offNetwork();
  assert.ok(seen.length > 0, 'the proxy saw the request');
  for (const line of seen) assert.match(line, /192\.0\.2\.1/);
  await opened.page.close();
});

// A name that selects no test fails rather than passing as an empty run.
if (only !== undefined && selected === 0) {
  nodeTest.test(only, () => assert.fail(`no browser test is named ${JSON.stringify(only)}`));
}
