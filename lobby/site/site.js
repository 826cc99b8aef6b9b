// Keeps the lobby's front page current from /races.json, so that it need not reload itself
// (a reload throws a screen reader back to the top). Only new races are announced.
"use strict";
(function () {
    const everyMs = 30000;
    const pause = document.getElementById("pause");
    const news = document.getElementById("news");
    const nobody = document.getElementById("nobody");
    const asOf = document.getElementById("as-of");
    let paused = false;
    let timer = null;
    const known = new Set();

    const key = (game, host, name) => game + "\n" + host + "\n" + name;

    // The races the server rendered count as seen.
    for (const section of document.querySelectorAll("section.game")) {
        for (const row of section.querySelectorAll("tr")) {
            const cells = row.querySelectorAll("td");
            if (cells.length === 4)
                known.add(key(section.dataset.game, cells[1].textContent, cells[0].textContent));
        }
    }

    function age(seconds) {
        if (seconds < 60) return "under a minute";
        const minutes = Math.floor(seconds / 60);
        if (minutes < 60) return minutes + " min";
        return Math.floor(minutes / 60) + " h " + (minutes % 60) + " min";
    }

    function element(tag, text) {
        const e = document.createElement(tag);
        if (text !== undefined) e.textContent = text;
        return e;
    }

    // The words of checkCellHtml in website.cpp.
    function checkCell(check, now) {
        const cell = element("td");
        check = check || {state: "not_checked"};
        const words = {checking: "checking\u2026", not_reachable: "not reachable from the internet"};
        if (check.state === "answering") {
            cell.append("answering \u00b7 " + check.players + " of " + check.max_players + " players");
            if (check.password) {
                const lock = element("span", "\u{1F512}");
                lock.setAttribute("role", "img");
                lock.setAttribute("aria-label", "password required");
                lock.title = "password required";
                cell.append(" ", lock);
            }
        } else {
            cell.append(words[check.state] || "not checked");
        }
        if (check.state !== "not_checked" && check.checked > 0) {
            const when = element("span", "checked " + age(Math.max(0, now - check.checked)) + " ago");
            when.className = "note";
            cell.append(element("br"), when);
        }
        return cell;
    }

    function showGame(section, races, now) {
        const heading = element("h2", section.dataset.game + " (" + races.length +
                                (races.length === 1 ? " race" : " races") + ")");
        if (races.length === 0) {
            section.replaceChildren(heading, element("p", "No races at the moment."));
            return;
        }
        const table = element("table");
        const head = table.insertRow();
        for (const title of ["Race name", "Host address", "Age", "Can players reach it?"])
            head.append(element("th", title));
        for (const race of races) {
            const row = table.insertRow();
            for (const text of [race.name, race.host, age(Math.max(0, now - race.created))])
                row.append(element("td", text));
            row.append(checkCell(race.check, now));
        }
        section.replaceChildren(heading, table);
    }

    function show(feed) {
        const fresh = [];
        let total = 0;
        for (const section of document.querySelectorAll("section.game")) {
            const game = section.dataset.game;
            const races = feed.races[game] || [];
            total += races.length;
            for (const race of races) {
                const k = key(game, race.host, race.name);
                if (!known.has(k)) fresh.push(game + " race " + race.name + ", host " + race.host);
                known.add(k);
            }
            showGame(section, races, feed.server_time);
        }
        nobody.hidden = total !== 0;
        if (fresh.length) news.textContent = "New: " + fresh.join("; ") + ".";
        asOf.textContent = "Lists as of " + feed.server_time_utc.replace("T", " ").replace("Z", " UTC") +
            ", brought up to date every " + everyMs / 1000 + " seconds.";
    }

    async function update() {
        timer = null;
        if (paused) return;
        if (!document.hidden) {
            try {
                const answer = await fetch("/races.json", {cache: "no-store"});
                if (!answer.ok) throw new Error(answer.status);
                if (!paused) show(await answer.json());
            } catch (e) {
                asOf.textContent = "The lobby cannot be reached just now; trying again.";
            }
        }
        if (!paused && timer === null) timer = setTimeout(update, everyMs);
    }

    pause.addEventListener("click", function () {
        paused = !paused;
        pause.textContent = paused ? "Resume live updates" : "Pause live updates";
        if (timer !== null) clearTimeout(timer);
        timer = null;
        if (!paused) update();
    });
    document.addEventListener("visibilitychange", function () {
        if (!document.hidden && !paused && timer !== null) {
            clearTimeout(timer);
            update();
        }
    });
    pause.hidden = false;
    timer = setTimeout(update, everyMs);
})();
