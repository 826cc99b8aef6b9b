// The lobby's pages in headless Chromium, against a running lobby whose history was seeded:
// axe-core finds no violation on / and /stats at 1,024 and 375 px; the front page adds a
// race announced after it loaded, without reloading, and announces only that one; /stats
// draws one bar per day in the order of the seeded counts and the whole heat map. Against
// the lobby with a stand-in prober (CHECKED_URL, races from 127.0.0.2 to .6): the checks'
// column in words, kept by the live updates, and /check as each host with the advice for
// its failed step and "Check again", axe-clean at both widths.
//   node pages_test.mjs BASE_URL NFS4_COUNTS NFS5_COUNTS SCREENSHOT CHECKED_URL
// NFSx_COUNTS: the seeded races per day, oldest first, comma-separated.
import fs from "node:fs";
import { createRequire } from "node:module";
import puppeteer from "puppeteer-core";

const [base, nfs4Counts, nfs5Counts, screenshot, checked] = process.argv.slice(2);
const axeSource = fs.readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
let failures = 0;
function check(ok, what) {
    console.log((ok ? "ok   " : "FAIL ") + what);
    if (!ok) failures++;
}

const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-extensions"],
});
// A page as the host at 127.0.0.N sees it (the checked lobby believes X-Forwarded-For from
// loopback); fast: its timers (the live updates every 30 s) run within 300 ms.
async function open(url, width, host, fast) {
    const page = await browser.newPage();
    if (fast) await page.evaluateOnNewDocument(() => {
        const setTimeoutAsIs = window.setTimeout;
        window.setTimeout = (f, ms, ...rest) => setTimeoutAsIs(f, Math.min(ms, 300), ...rest);
    });
    if (host) await page.setExtraHTTPHeaders({ "X-Forwarded-For": "127.0.0." + host });
    await page.setViewport({ width, height: 900 });
    await page.goto(url, { waitUntil: "load" });
    return page;
}
async function axeClean(page, what) {
    await page.evaluate(axeSource);
    const result = await page.evaluate(() => axe.run());
    const found = result.violations.map((v) => `${v.id} (${v.impact}, ${v.nodes.length})`);
    check(found.length === 0, `axe ${what}: ${found.join(", ") || "no violations"}`);
}
// The NFS4 table's last column as read aloud, the lock by its text alternative.
const checkColumn = () => [...document.querySelectorAll('section[data-game="NFS4"] td:nth-child(4)')]
    .map((td) => td.innerText.replace(/\s+/g, " ").replace(/\d+ min/, "N min").replace("\u{1F512}",
        `[${td.querySelector('[role="img"]')?.ariaLabel}]`)).join(" | ");

try {
    for (const width of [1024, 375]) {
        for (const [path, host] of [["/"], ["/stats"], ["/", 2], ["/check", 2], ["/check", 4], ["/check", 5]]) {
            const page = await open((host ? checked : base) + path, width, host);
            await axeClean(page, `at ${width} px on ${path}` + (host ? ` of the checked lobby as 127.0.0.${host}` : ""));
            await page.close();
        }
    }

    const checks = await open(checked + "/", 1024, 2, true);
    const expected = "answering \u00b7 3 of 8 players [password required] checked N min ago | checking\u2026 | " +
        "not reachable from the internet checked under a minute ago | ".repeat(2) + "not checked";
    check(await checks.evaluate(checkColumn) === expected, `the checks' column: ${await checks.evaluate(checkColumn)}`);
    check(await checks.waitForFunction(() => document.getElementById("as-of").textContent.includes("brought up"),
        { timeout: 10000 }).then(() => true, () => false), "the live update came");
    check(await checks.evaluate(checkColumn) === expected, `the same after it: ${await checks.evaluate(checkColumn)}`);
    await checks.screenshot({ path: screenshot.replace(/\.png$/, "-checks.png"), fullPage: true });
    await checks.close();

    // What /check says to each host ("!": must not say), its own race only.
    for (const [host, words] of Object.entries({
        2: ["Players can reach this race", "Sunday cup", "!firewall", "!Host4"],
        4: ["UDP port 47624 and TCP and UDP ports 2300\u20132400", "firewall", "carrier-grade NAT", "!Host2"],
        5: ["game port 2350 refused", "ports 2300\u20132400", "firewall", "!carrier-grade NAT", "!Host4"],
    })) {
        const page = await open(checked + "/check", 375, host);
        const text = await page.evaluate(() => document.querySelector("main").innerText);
        for (const w of [`127.0.0.${host}`, `Host${host}`, ...words])
            check(text.includes(w.replace(/^!/, "")) !== w.startsWith("!"), `/check as 127.0.0.${host}: ${w}`);
        if (host === "4") await page.screenshot({ path: screenshot.replace(/\.png$/, "-check.png"), fullPage: true });
        await page.close();
    }

    const again = await open(checked + "/check", 1024, 4);
    const policy = (await again.reload({ waitUntil: "load" })).headers()["content-security-policy"];
    check(/default-src 'none'.*script-src 'self'.*form-action 'self'/.test(policy) &&
          await again.evaluate(() => document.scripts.length === 0), `no script on /check, and the policy: ${policy}`);
    for (const said of ["is checking your races again", "at most once every 10 seconds"]) {
        await Promise.all([again.waitForNavigation({ waitUntil: "load" }), again.click("form button")]);
        const status = await again.evaluate(() => document.querySelector('[role="status"]')?.textContent);
        check(status?.includes(said), `Check again: "${status}"`);
    }
    await axeClean(again, "on the answer to Check again");
    await again.close();

    const page = await open(base + "/", 1024, undefined, true);
    await page.evaluate(() => { window.loadedOnce = true; });
    const added = await (await fetch(base + "/server/server.php?action=raceadd&game=NFS4&data=" +
                                     encodeURIComponent("name:Fresh cup;ip:2130706433"))).text();
    check(added === "OK\n", "a new race is announced");
    const row = await page.waitForFunction(() => [...document.querySelectorAll('section[data-game="NFS4"] td')]
        .some((td) => td.textContent === "Fresh cup"), { timeout: 10000 }).then(() => true, () => false);
    check(row, "the new race appears in the NFS4 table");
    const state = await page.evaluate(() => ({
        loadedOnce: window.loadedOnce === true,
        news: document.getElementById("news").textContent,
        heading: document.querySelector('section[data-game="NFS4"] h2').textContent,
    }));
    check(state.loadedOnce, "without a reload");
    check(state.news === "New: NFS4 race Fresh cup, host 127.0.0.1.", `the live region says only that: "${state.news}"`);
    check(/^NFS4 \(\d+ races?\)$/.test(state.heading), `the heading counts again: "${state.heading}"`);
    const pauseVisible = await page.$eval("#pause", (b) => !b.hidden && b.offsetWidth > 0);
    check(pauseVisible, "the pause control is visible");
    await page.close();

    const stats = await browser.newPage();
    await stats.setViewport({ width: 1024, height: 900 });
    await stats.goto(base + "/stats", { waitUntil: "load" });
    const drawn = await stats.evaluate(() => ({
        bars: [...document.querySelectorAll("svg[aria-labelledby^='bars-']")].map((svg) =>
            [...svg.querySelectorAll("rect.bar")].map((r) => r.getBoundingClientRect().height)),
        cells: [...document.querySelectorAll("rect.cell")].filter((r) => {
            const box = r.getBoundingClientRect();
            return box.width > 5 && box.height > 5;
        }).length,
        noScript: document.scripts.length === 0,
    }));
    for (const [i, counts] of [nfs4Counts, nfs5Counts].entries()) {
        const expected = counts.split(",").map(Number);
        const heights = drawn.bars[i] || [];
        check(heights.length === expected.length, `chart ${i + 1}: ${heights.length} bars for ${expected.length} days`);
        // Same order: a day with more races has the taller bar, equal days equal bars.
        let ordered = heights.length === expected.length;
        for (let a = 0; ordered && a < expected.length; a++)
            for (let b = 0; b < expected.length; b++)
                if (Math.sign(expected[a] - expected[b]) !== Math.sign(Math.round(heights[a] - heights[b])))
                    ordered = false;
        check(ordered, `chart ${i + 1}: bar heights in the order of the seeded counts`);
    }
    check(drawn.cells === 7 * 24, `heat map: ${drawn.cells} of 168 hours drawn`);
    check(drawn.noScript, "/stats has no script");
    await stats.screenshot({ path: screenshot, fullPage: true });
    console.log("screenshot " + screenshot);
} finally {
    await browser.close();
}
console.log(failures ? `${failures} checks failed` : "all checks passed");
process.exit(failures ? 1 : 0);
