// The one place that knows how each browser engine is reached. The tests, the
// screenshot script and the benchmark see only launch(engine) and the page it
// opens, with the same few calls in Chromium, Firefox and WebKit:
//   chromium  /usr/bin/chromium through playwright-core, over a pipe
//   firefox   /usr/bin/firefox-esr through puppeteer-core, over WebDriver BiDi
//   webkit    WebKitWebDriver (W3C WebDriver, plain JSON over loopback HTTP, driven
//             with fetch) and the browser it starts, on an Xvfb display of its own
// Every engine sends all its web traffic to a loopback proxy of ours that answers
// nothing and records what reached it: a request for any network address, the
// browser's own included, shows up there (see offNetwork).
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const engines = ['chromium', 'firefox', 'webkit'];

export const chromiumPath = '/usr/bin/chromium';
export const firefoxPath = '/usr/bin/firefox-esr';

// Loopback addresses stay direct, so that a page served from 127.0.0.1 (the
// screenshot script's --http) still loads.
const direct = ['localhost', '127.0.0.1', '[::1]'];

// A TCP listener on the loopback address that every engine takes as its HTTP
// and HTTPS proxy. It keeps the first line of each connection (a request line,
// a CONNECT, or a TLS hello when an engine speaks TLS to its proxy) and answers
// 403, so nothing ever gets through.
async function startTrap() {
  const seen = [];
  const server = createServer((socket) => {
    socket.on('error', () => {});
    socket.setTimeout(2000, () => socket.destroy());
    let first = '';
    socket.on('data', (data) => {
      if (first) return;
      first = String(data).split('\r\n')[0];
      seen.push(/^[A-Z]+ \S+ HTTP\/1\.[01]$/.test(first) ? first : 'a connection that is not HTTP');
      socket.end('HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n');
    });
    socket.on('end', () => {
      if (!first) seen.push('a connection that sent nothing');
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { port: server.address().port, seen, close: () => server.close() };
}

// A loopback port where nothing listens: a service pointed here fails at once.
const nowhere = 'http://127.0.0.1:9/';

const chromiumFlags = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--disable-field-trial-config',
  // Sign-in checks and the component updater start whatever the switches
  // say; their servers are moved to nowhere.
  `--gaia-url=${nowhere}`,
  `--google-apis-url=${nowhere}`,
  `--lso-url=${nowhere}`,
  `--component-updater=url-source=${nowhere}`,
  '--disable-extensions',
  '--disable-default-apps',
  '--disable-component-extensions-with-background-pages',
  '--disable-client-side-phishing-detection',
  '--disable-domain-reliability',
  '--disable-breakpad',
  '--no-pings',
  '--no-default-browser-check',
  '--metrics-recording-only',
  '--disable-search-engine-choice-screen',
  '--disable-features=NetworkTimeServiceQuerying,PreconnectToSearch,OptimizationHints,MediaRouter,Translate,AutofillServerCommunication,CertificateTransparencyComponentUpdater',
];

// Firefox reaches out on its own for remote settings, updates, telemetry, safe
// browsing lists, captive portal and connectivity probes, region and search
// updates, push and add-on checks. Each is switched off here; the proxy catches
// whatever is left. Without these the proxy saw a dozen CONNECTs in seconds.
function firefoxPrefs(port) {
  return {
    'network.proxy.type': 1,
    'network.proxy.http': '127.0.0.1',
    'network.proxy.http_port': port,
    'network.proxy.ssl': '127.0.0.1',
    'network.proxy.ssl_port': port,
    'network.proxy.no_proxies_on': direct.join(', '),
    'network.proxy.socks_remote_dns': true,
    'network.trr.mode': 5,
    'network.dns.disablePrefetch': true,
    'network.prefetch-next': false,
    'network.http.speculative-parallel-limit': 0,
    'network.captive-portal-service.enabled': false,
    'network.connectivity-service.enabled': false,
    'services.settings.server': 'data:,#remote-settings-dummy/v1',
    'app.update.auto': false,
    'app.update.enabled': false,
    'app.update.checkInstallTime': false,
    'app.normandy.enabled': false,
    'app.shield.optoutstudies.enabled': false,
    'datareporting.healthreport.uploadEnabled': false,
    'datareporting.policy.dataSubmissionEnabled': false,
    'toolkit.telemetry.enabled': false,
    'toolkit.telemetry.unified': false,
    'toolkit.telemetry.archive.enabled': false,
    'toolkit.telemetry.server': 'data:,',
    'browser.ping-centre.telemetry': false,
    'browser.safebrowsing.malware.enabled': false,
    'browser.safebrowsing.phishing.enabled': false,
    'browser.safebrowsing.downloads.enabled': false,
    'browser.safebrowsing.downloads.remote.enabled': false,
    'browser.safebrowsing.provider.mozilla.updateURL': '',
    'browser.safebrowsing.provider.google.updateURL': '',
    'browser.safebrowsing.provider.google4.updateURL': '',
    'browser.region.network.url': '',
    'browser.region.update.enabled': false,
    'browser.search.update': false,
    'browser.newtabpage.enabled': false,
    'browser.newtabpage.activity-stream.feeds.system.topstories': false,
    'browser.newtabpage.activity-stream.feeds.topsites': false,
    'browser.startup.homepage_override.mstone': 'ignore',
    'browser.aboutwelcome.enabled': false,
    'geo.provider.network.url': '',
    'media.gmp-manager.url': '',
    'media.gmp-gmpopenh264.enabled': false,
    'media.gmp-widevinecdm.enabled': false,
    'extensions.update.enabled': false,
    'extensions.getAddons.cache.enabled': false,
    'extensions.blocklist.enabled': false,
    'extensions.systemAddon.update.enabled': false,
    'dom.push.enabled': false,
    'dom.push.connection.enabled': false,
    'identity.fxaccounts.enabled': false,
    'security.OCSP.enabled': 0,
    'security.remote_settings.crlite_filters.enabled': false,
    'security.remote_settings.intermediates.enabled': false,
    'privacy.query_stripping.enabled': false,
  };
}

// Playwright's page and puppeteer's page answer the same calls with the same
// names where it matters; the differences are kept here.
function wrapDevtoolsPage(engine, page) {
  const errors = [];
  const requests = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('request', (request) => requests.push(request.url()));
  return {
    engine,
    async goto(url, timeout = 30000) {
      await page.goto(url, { timeout, waitUntil: 'load' });
    },
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    // A real click: the engine moves the pointer to the element's centre and
    // presses there, after scrolling it into view.
    // Everything is local: a label that cannot be clicked in 5 s is a fault,
    // unless the caller (the benchmark) allows more.
    async click(selector, timeout = 5000) {
      if (engine === 'chromium') await page.locator(selector).click({ timeout });
      else await page.locator(selector).setTimeout(timeout).click();
    },
    async resize(width, height) {
      if (engine === 'chromium') await page.setViewportSize({ width, height });
      else await page.setViewport({ width, height });
    },
    // What the viewport shows, as PNG bytes.
    async screenshot() {
      return Buffer.from(await page.screenshot({ type: 'png' }));
    },
    errors: async () => [...errors],
    requests: async () => [...requests],
    close: () => page.close(),
  };
}

// Chromium's profile: the rest of what it does on its own. Without it and the
// server switches above, the proxy saw within seconds of the start a
// preconnection to the default search engine, sign-in checks, a network time
// query and an update query, whatever the --disable switches.
function writeChromiumProfile(profile) {
  mkdirSync(join(profile, 'Default'));
  writeFileSync(
    join(profile, 'Default', 'Preferences'),
    JSON.stringify({
      // The default search engine is preconnected to at the start: it is nowhere.
      default_search_provider: { enabled: false },
      default_search_provider_data: {
        template_url_data: { keyword: 'none', short_name: 'none', url: `${nowhere}?q={searchTerms}` },
      },
      signin: { allowed: false, allowed_on_next_startup: false },
      search: { suggest_enabled: false },
      net: { network_prediction_options: 2 },
      dns_prefetching: { enabled: false },
      safebrowsing: { enabled: false },
      alternate_error_pages: { enabled: false },
      browser: { has_seen_welcome_page: true },
    }),
  );
  writeFileSync(
    join(profile, 'Local State'),
    JSON.stringify({
      component_updates: { component_updates_enabled: false },
      user_experience_metrics: { reporting_enabled: false },
      background_mode: { enabled: false },
    }),
  );
}

async function launchChromium(trap, profile) {
  writeChromiumProfile(profile);
  const { chromium } = await import('playwright-core');
  const browser = await chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    ignoreDefaultArgs: true,
    args: [
      ...chromiumFlags,
      `--proxy-server=http://127.0.0.1:${trap.port}`,
      `--user-data-dir=${profile}`,
      '--remote-debugging-pipe',
    ],
  });
  return {
    version: `Chromium ${browser.version()}`,
    async open(viewport) {
      return wrapDevtoolsPage('chromium', await browser.newPage({ viewport }));
    },
    close: () => browser.close(),
  };
}

async function launchFirefox(trap, profile) {
  const { default: puppeteer } = await import('puppeteer-core');
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: firefoxPath,
    headless: true,
    userDataDir: profile,
    extraPrefsFirefox: firefoxPrefs(trap.port),
    // Release builds ignore a remote settings server set in the profile, except
    // in a run marked as a test run; the mark also keeps Firefox to local
    // addresses, the proxy being one.
    env: { ...process.env, MOZ_DISABLE_NONLOCAL_CONNECTIONS: '1' },
  });
  const version = (await browser.version()).replace(/^firefox\//, 'Firefox ');
  return {
    version,
    async open(viewport) {
      const page = await browser.newPage();
      await page.setViewport(viewport);
      return wrapDevtoolsPage('firefox', page);
    },
    close: () => browser.close(),
  };
}

// Starts a process in a process group of its own: end() ends the group, the
// browser the driver started included, and so does the caller's exit. SIGTERM,
// so that the X server removes its socket and the browser its files.
function child(command, args, options) {
  const started = spawn(command, args, { ...options, detached: true });
  const end = () => {
    process.off('exit', end);
    try {
      process.kill(-started.pid, 'SIGTERM');
    } catch {
      // Already gone.
    }
  };
  process.once('exit', end);
  started.end = end;
  return started;
}

async function freePort() {
  const server = createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

// An X server on a display number it picks itself (-displayfd), so that runs in
// parallel never race for one; it listens on no TCP port.
async function startXvfb() {
  const xvfb = child('Xvfb', ['-displayfd', '3', '-nolisten', 'tcp', '-screen', '0', '3840x2160x24'], {
    stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
  });
  let stderr = '';
  xvfb.stderr.on('data', (data) => (stderr += data));
  const display = await new Promise((resolve, reject) => {
    let out = '';
    xvfb.stdio[3].on('data', (data) => {
      out += data;
      if (out.includes('\n')) resolve(`:${out.trim()}`);
    });
    xvfb.once('error', reject);
    xvfb.once('exit', (code) => reject(new Error(`Xvfb exited with ${code}: ${stderr}`)));
    setTimeout(() => reject(new Error(`Xvfb named no display in 20 s: ${stderr}`)), 20000).unref();
  }).catch((error) => {
    xvfb.end();
    throw error;
  });
  return { display, process: xvfb };
}

const elementKey = 'element-6066-11e4-a52e-4f735466cecf';

// Now and then the browser's new session is not answered at all, with nothing
// on the driver's standard error: seen in 3 of 7 full parallel CTest runs here,
// in one test each (once on both its tries), never in a hundred launches alone
// or in loops of them. A new X server, driver and browser are then tried, up to three
// times in all; each failure prints the state of the driver's processes.
async function launchWebkit(trap) {
  for (let attempt = 1; ; attempt++) {
    try {
      return await launchWebkitOnce(trap);
    } catch (error) {
      if (!error.sessionTimedOut || attempt === 3) throw error;
      console.error(`${error.message}; starting WebKit once more`);
    }
  }
}

async function launchWebkitOnce(trap) {
  const xvfb = await startXvfb();
  let driver;
  try {
    const port = await freePort();
    driver = child('WebKitWebDriver', [`--port=${port}`, '--host=127.0.0.1'], {
      env: { ...process.env, DISPLAY: xvfb.display },
      stdio: ['ignore', 'ignore', 'pipe'],
    });
    let driverLog = '';
    driver.stderr.on('data', (data) => (driverLog = (driverLog + data).slice(-2000)));
    const base = `http://127.0.0.1:${port}`;
    // Every command has a deadline, so that a driver or browser that hangs fails
    // the test with the step and the driver's last words, not at CTest's timeout.
    const command = async (method, path, body, seconds = 30) => {
      let response;
      try {
        response = await fetch(base + path, {
          method,
          headers: { 'content-type': 'application/json' },
          body: body === undefined ? undefined : JSON.stringify(body),
          signal: AbortSignal.timeout(seconds * 1000),
        });
      } catch (error) {
        const timedOut = error.name === 'TimeoutError';
        let message = `WebKitWebDriver ${method} ${path}: ${error.message}; the driver said: ${driverLog}`;
        if (timedOut) {
          const ps = spawnSync('ps', ['-o', 'pid,stat,wchan:24,etimes,args', '-g', String(driver.pid)], {
            encoding: 'utf8',
          });
          message += `\nits processes:\n${ps.stdout}`;
        }
        const failed = new Error(message);
        failed.sessionTimedOut = path === '/session' && timedOut;
        throw failed;
      }
      const answer = await response.json();
      if (!response.ok) {
        const error = new Error(`WebKitWebDriver ${method} ${path}: ${answer.value?.message}`);
        error.webdriver = answer.value?.error;
        throw error;
      }
      return answer.value;
    };
    // The port was free a moment ago; should another process have taken it
    // since, the driver exits, or the status goes unanswered, and this fails.
    for (const deadline = Date.now() + 20000; ; ) {
      try {
        if ((await command('GET', '/status', undefined, 2)).ready) break;
      } catch (error) {
        if (driver.exitCode !== null || Date.now() > deadline) {
          throw new Error(`WebKitWebDriver did not start: ${error.message}`);
        }
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    const proxy = `127.0.0.1:${trap.port}`;
    const { sessionId, capabilities } = await command(
      'POST',
      '/session',
      {
        capabilities: {
          alwaysMatch: {
            proxy: { proxyType: 'manual', httpProxy: proxy, sslProxy: proxy, noProxy: direct },
            'webkitgtk:browserOptions': { args: ['--automation'] },
          },
        },
      },
      20,
    );
    const session = (method, path, body, seconds) =>
      command(method, `/session/${sessionId}${path}`, body, seconds);
    // A script on a page of hundreds of megabytes may take a while: a minute.
    const run = (fn, arg) =>
      session('POST', '/execute/sync', { script: `return (${fn}).apply(null, arguments)`, args: [arg] }, 60);
    // Resolves after the engine has drawn a frame since the call.
    const drawn = () =>
      session('POST', '/execute/async', {
        script: 'const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(() => done()));',
        args: [],
      });
    // WebDriver sizes the window, frame and all, and the window takes its size
    // a moment later: the frame's share is measured, and the page waited for.
    const resize = async (width, height) => {
      for (let attempt = 0; attempt < 5; attempt++) {
        const outer = await session('GET', '/window/rect');
        const [innerWidth, innerHeight] = await run(() => [innerWidth, innerHeight]);
        if (innerWidth === width && innerHeight === height) break;
        await session('POST', '/window/rect', {
          width: width + outer.width - innerWidth,
          height: height + outer.height - innerHeight,
        });
        for (let waited = 0; waited < 2000; waited += 50) {
          const [w, h] = await run(() => [innerWidth, innerHeight]);
          if (w === width && h === height) break;
          await new Promise((resolve) => setTimeout(resolve, 50));
        }
      }
      await drawn();
    };
    let current = null;
    return {
      version: `WebKitGTK ${capabilities.browserVersion}`,
      // One window per session: a page is opened in it, in place of the one
      // before, if any.
      async open(viewport) {
        await session('POST', '/url', { url: 'about:blank' });
        await resize(viewport.width, viewport.height);
        current = {
          engine: 'webkit',
          async goto(url, timeout = 30000) {
            await session('POST', '/timeouts', { pageLoad: timeout });
            await session('POST', '/url', { url }, timeout / 1000 + 10);
            // Classic WebDriver tells nothing of errors in the page: the page's
            // own error event does, from here on.
            await run(() => {
              window.__quiltviewErrors = [];
              window.addEventListener('error', (e) =>
                window.__quiltviewErrors.push(e.error ? e.error.message : e.message),
              );
            });
          },
          evaluate: run,
          async click(selector, timeout = 5000) {
            const element = await session('POST', '/element', { using: 'css selector', value: selector });
            await session('POST', `/element/${element[elementKey]}/click`, {}, timeout / 1000);
          },
          resize,
          async screenshot() {
            await drawn();
            return Buffer.from(await session('GET', '/screenshot'), 'base64');
          },
          errors: () => run(() => window.__quiltviewErrors ?? []),
          // No network events here: the page's own record of what it loaded.
          requests: () =>
            run(() =>
              [...performance.getEntriesByType('navigation'), ...performance.getEntriesByType('resource')].map(
                (e) => e.name,
              ),
            ),
          async close() {
            current = null;
          },
        };
        return current;
      },
      async close() {
        try {
          await session('DELETE', '');
        } finally {
          driver.end();
          xvfb.process.end();
        }
      },
    };
  } catch (error) {
    driver?.end();
    xvfb.process.end();
    throw error;
  }
}

// Starts one engine with a fresh profile and its proxy. Returns { engine,
// version, open(viewport), offNetwork(), close() }: open() gives a page with
// goto(url, ms), evaluate(fn, arg), click(selector, ms), resize(w, h), screenshot(),
// errors(), requests() and close(); offNetwork() lists what reached the proxy.
export async function launch(engine) {
  if (!engines.includes(engine)) throw new Error(`no engine named ${engine}`);
  const trap = await startTrap();
  const profile = mkdtempSync(join(tmpdir(), `quiltview-${engine}-`));
  let browser;
  try {
    if (engine === 'chromium') browser = await launchChromium(trap, profile);
    else if (engine === 'firefox') browser = await launchFirefox(trap, profile);
    else browser = await launchWebkit(trap);
  } catch (error) {
    trap.close();
    rmSync(profile, { recursive: true, force: true });
    throw error;
  }
  return {
    engine,
    version: browser.version,
    open: (viewport = { width: 1280, height: 720 }) => browser.open(viewport),
    offNetwork: () => [...trap.seen],
    async close() {
      try {
        await browser.close();
      } finally {
        trap.close();
        rmSync(profile, { recursive: true, force: true });
      }
    },
  };
}
