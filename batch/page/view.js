// A record's page of the alignments view: shows one repeat at a time, its
// statistics and its copies aligned to its consensus. The repeats are kept in
// numbered parts (<stem>-NNNN.js, each calling rivulonChunk) loaded on demand
// through <script> elements, since a page opened from file:// may not fetch
// its neighbours. The fragment #repeat-K names the repeat shown.
"use strict";

const config = JSON.parse(document.getElementById("config").textContent);
const column = Object.fromEntries(config.fields.map((name, i) => [name, i]));
const chunks = new Map();   // part number -> its repeats, once loaded
const waiting = new Map();  // part number -> callbacks waiting for it
const INSERTION_SHOWN = 12; // longer insertions show as [+N]
const LETTERS = new Set(["motif", "consensus", "canonical_motif"]);  // shown on lines of their own

// A part calls this as it loads.
window.rivulonChunk = function (index, repeats) {
  chunks.set(index, repeats);
  for (const done of waiting.get(index) || []) done(repeats);
  waiting.delete(index);
};

function load(index) {
  if (chunks.has(index)) return Promise.resolve(chunks.get(index));
  return new Promise((resolve, reject) => {
    if (!waiting.has(index)) {
      waiting.set(index, []);
      const script = document.createElement("script");
      script.src = config.stem + "-" + String(index + 1).padStart(4, "0") + ".js";
      script.onerror = () => reject(new Error("cannot load " + script.src));
      document.head.appendChild(script);
    }
    waiting.get(index).push(resolve);
  });
}

// The part that holds repeat n's copy `copy`: the last that starts at or before it.
function partOf(n, copy) {
  let low = 0, high = config.chunks.length - 1;
  while (low < high) {
    const mid = (low + high + 1) >> 1;
    const [first, firstCopy] = config.chunks[mid];
    if (first < n || (first === n && firstCopy <= copy)) low = mid; else high = mid - 1;
  }
  return low;
}

function element(tag, attributes, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attributes || {})) e.setAttribute(k, v);
  for (const c of children) e.append(c);
  return e;
}

function span(className, text) {
  return element("span", {class: className}, text);
}

const number = (text) => /^-?\d+$/.test(text) ? Number(text).toLocaleString("en") : text;

// Repeat entries: [n, fields, alignedStart, alignedEnd, copyCount, firstCopy, copies];
// a copy: [start, end, firstColumn, letters, insertions [[before, bases, length]], percent].
function statistics(fields) {
  const list = element("dl", {class: "stats"});
  // The numbers first, then the letters on lines of their own.
  const order = config.fields.map((name, i) => i);
  order.sort((a, b) => LETTERS.has(config.fields[a]) - LETTERS.has(config.fields[b]) || a - b);
  order.forEach((i) => {
    const name = config.fields[i];
    const wide = LETTERS.has(name);
    list.append(element("div", wide ? {class: "wide"} : {}, element("dt", {}, name.replace(/_/g, " ")),
                        element("dd", {"data-field": name}, wide ? element("code", {}, fields[i]) : fields[i])));
  });
  return list;
}

// What an insertion shows: its bases, or [+N] when long.
function insertionText(insertion) {
  return insertion[2] <= INSERTION_SHOWN ? insertion[1].toLowerCase() : "[+" + insertion[2] + "]";
}

function alignment(entry, copies) {
  const consensus = entry[1][column.consensus];
  const L = consensus.length;
  // Room before each column (and after the last) for the widest insertion there.
  const room = new Array(L + 1).fill(0);
  for (const copy of copies) {
    for (const insertion of copy[4]) {
      const at = copy[2] + insertion[0];
      room[at] = Math.max(room[at], insertionText(insertion).length);
    }
  }
  const box = element("div", {class: "alignment"});
  const header = element("div", {class: "line consensus"}, span("where", "consensus"));
  for (let g = 0; g < L; ++g) header.append(" ".repeat(room[g]) + consensus[g]);
  box.append(header);
  for (const copy of copies) {
    const [start, end, first, letters, insertions, percent] = copy;
    const line = element("div", {class: "line copy"}, span("where", number(String(start)) + "\u2013" + number(String(end))));
    let next = 0;
    for (let g = 0; g <= L; ++g) {
      let used = 0;
      for (; next < insertions.length && first + insertions[next][0] === g; ++next) {
        const text = insertionText(insertions[next]);
        const mark = span("ins", text);
        mark.title = insertions[next][2] + " inserted base(s): " + insertions[next][1];
        line.append(mark);
        used += text.length;
      }
      if (room[g] > used) line.append(" ".repeat(room[g] - used));
      if (g === L) break;
      const i = g - first;
      if (i < 0 || i >= letters.length) { line.append(" "); continue; }
      const c = letters[i];
      if (c === "-") line.append(span("del", "-"));
      else if (c !== consensus[g]) line.append(span("mis", c));
      else line.append(c);
    }
    line.append(span("pct", percent + "%"));
    box.append(line);
  }
  return box;
}

// Repeat n's copies in a part: a repeat of many copies comes in pieces.
function piecesOf(repeats, n) {
  return repeats.filter((r) => r[0] === n).flatMap((r) => r[6]);
}

let shown = 0;

async function show(n) {
  n = Math.min(Math.max(1, n | 0), config.count);
  shown = n;
  document.getElementById("goto").value = n;
  const part = partOf(n, 0);
  const repeats = await load(part);
  if (shown !== n) return;
  const entry = repeats.find((r) => r[0] === n);
  let copies = piecesOf(repeats, n);
  const section = document.getElementById("repeat");
  const fields = entry[1];
  const title = element("h2", {id: "repeat-title"}, "Repeat " + n.toLocaleString("en") + ": " + number(fields[column.start]) +
                        "\u2013" + number(fields[column.end]));
  const parts = [title, statistics(fields)];
  if (entry[2] > Number(fields[column.start]) || entry[3] < Number(fields[column.end])) {
    parts.push(element("p", {class: "note"}, "The alignment takes bases " + number(String(entry[2])) + "\u2013" +
                       number(String(entry[3])) + "; the others fit no copy."));
  }
  parts.push(element("p", {class: "legend note"}, span("mis", "mismatch"), span("del", "- deletion"),
                     span("ins", "insertion"), "Each line is a copy: its first and last base, and the percent of its columns that match."));
  const view = element("div", {id: "copies"}, alignment(entry, copies));
  parts.push(view);
  if (entry[5] + copies.length < entry[4]) {
    const more = element("button", {type: "button", id: "more"}, "");
    const label = () => { more.textContent = "Show more copies (" + copies.length + " of " + entry[4] + " shown)"; };
    label();
    let nextPart = part;
    more.onclick = async () => {
      nextPart += 1;
      copies = copies.concat(piecesOf(await load(nextPart), n));
      view.replaceChildren(alignment(entry, copies));
      if (copies.length >= entry[4]) more.remove(); else label();
    };
    parts.push(more);
  }
  section.replaceChildren(...parts);
  listNearby(repeats, n);
  document.title = "Repeat " + n + " of " + config.record;
  document.body.dataset.shown = String(n);
}

function listNearby(repeats, n) {
  const body = document.querySelector("#list tbody");
  body.replaceChildren();
  for (const r of repeats) {
    if (r[5] !== 0) continue;  // a repeat's later copies, listed where it starts
    const f = r[1];
    const consensus = f[column.consensus];
    const row = element("tr", r[0] === n ? {class: "current"} : {},
                        element("td", {class: "num"}, element("a", {href: "#repeat-" + r[0]}, String(r[0]))),
                        element("td", {class: "num"}, number(f[column.start])), element("td", {class: "num"}, number(f[column.end])),
                        element("td", {class: "num"}, f[column.period]), element("td", {class: "num"}, f[column.copies]),
                        element("td", {}, element("code", {}, consensus.length > 40 ? consensus.slice(0, 40) + "\u2026" : consensus)));
    body.append(row);
  }
}

function fromHash() {
  const m = /^#repeat-(\d+)$/.exec(location.hash);
  show(m ? Number(m[1]) : 1).catch((error) => {
    document.getElementById("repeat").replaceChildren(element("p", {}, String(error.message)));
  });
}

document.getElementById("previous").onclick = () => { location.hash = "#repeat-" + Math.max(1, shown - 1); };
document.getElementById("next").onclick = () => { location.hash = "#repeat-" + Math.min(config.count, shown + 1); };
document.getElementById("goto").onchange = (e) => { location.hash = "#repeat-" + (Number(e.target.value) || 1); };
window.addEventListener("hashchange", fromHash);
fromHash();
