// The summary page's behaviour: it draws the tables, tracks and histogram
// from the data the program writes into the page. Embedded into
// rivulon-batch at build time.
"use strict";
const data = JSON.parse(document.getElementById("data").textContent);
const rows = data.rows;
// Each row is an array whose fields the program names in data.fields.
const field = (name) => {
  const i = data.fields.indexOf(name);
  if (i < 0) throw new Error("the page's data has no field " + name);
  return i;
};
const R = field("record"), START = field("start"), END = field("end"), LEN = field("motif_length");
const UNITS = field("units"), VALUE = field("value"), MOTIF = field("motif"), LINK = field("link"), PAGE = field("page");
// Where a row's alignment is: its page (one of data.pages) and the place on it.
const linkOf = (r) => data.pages[r[PAGE]] + r[LINK];
// The period classes the histogram marks, with their repeats and bases covered.
const CLASSES = data.classes.map((c) => Object.assign({name: c.low + "\u2013" + c.high}, c));
const MOTIF_SHOWN = 24;  // letters of a motif a table cell shows before "show all
const SVG = "http://www.w3.org/2000/svg";
const tip = document.getElementById("tip");
const fmt = new Intl.NumberFormat("en-US");

function el(name, attrs, text) {
  const e = name.startsWith("svg:") ? document.createElementNS(SVG, name.slice(4)) : document.createElement(name);
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}
function describe(r) {
  return data.records[r[R]].name + ":" + fmt.format(r[START]) + "\u2013" + fmt.format(r[END]) +
         "  motif length " + r[LEN] + ", " + r[UNITS] + " copies, " + data.valueName + " " + r[VALUE] +
         (r[MOTIF].length <= 60 ? ", motif " + r[MOTIF] : "");
}
function showTip(event, text) {
  tip.textContent = text;
  tip.style.display = "block";
  // Beside the pointer, kept inside the view.
  const x = Math.min(event.clientX + 14, window.innerWidth - tip.offsetWidth - 8);
  const below = event.clientY + 16, above = event.clientY - tip.offsetHeight - 8;
  tip.style.left = Math.max(4, x) + "px";
  tip.style.top = Math.max(4, below + tip.offsetHeight > window.innerHeight - 4 ? above : below) + "px";
}
function hideTip() { tip.style.display = "none"; }

// Records: counts and bases covered; the records not listed summed in one line.
(function records() {
  const line = (name, rec) => {
    const tr = el("tr");
    tr.append(el("td", {}, name), el("td", {class: "num"}, fmt.format(rec.length)),
              el("td", {class: "num"}, fmt.format(rec.repeats)), el("td", {class: "num"}, fmt.format(rec.covered)),
              el("td", {class: "num"}, rec.length > 0 ? (100 * rec.covered / rec.length).toFixed(2) + "%" : "-"));
    return tr;
  };
  const body = document.querySelector("#records tbody");
  data.records.forEach((rec) => { if (rec.listed) body.append(line(rec.name, rec)); });
  if (data.others) {
    document.querySelector("#records tfoot").append(line(fmt.format(data.others.records) + " other records", data.others));
  }
})();

// Tracks: each repeat at its place along the record (x) and its motif length
// (y, logarithmic), drawn as one path; hovering finds the nearest repeat.
(function tracks() {
  const holder = document.getElementById("track-list");
  const maxTracks = 50, W = 960, H = 110, left = 40, top = 6;
  const maxLen = rows.reduce((m, r) => Math.max(m, r[LEN]), 2);
  const yOf = (L) => top + H - H * Math.log(L) / Math.log(maxLen);
  const byRecord = new Map();
  rows.forEach((r, i) => { if (!byRecord.has(r[R])) byRecord.set(r[R], []); byRecord.get(r[R]).push(i); });
  let shown = 0;
  for (const [rec, list] of byRecord) {
    if (shown++ === maxTracks) {
      holder.append(el("p", {class: "note"}, (byRecord.size - maxTracks) +
        " more records have repeats; the table below lists them (filter by record)."));
      break;
    }
    const record = data.records[rec];
    const scale = (W - left - 10) / Math.max(1, record.length);
    const div = el("div", {class: "track"});
    div.append(el("h3", {}, record.name + " (" + fmt.format(record.length) + " bases, " + fmt.format(record.repeats) + " repeats" +
                            (list.length < record.repeats ? ", " + fmt.format(list.length) + " of them in the table" : "") + ")"));
    const svg = el("svg:svg", {viewBox: "0 0 " + W + " " + (H + top + 24), role: "img",
                               "aria-label": "Repeats along " + record.name + " by motif length"});
    svg.append(el("svg:line", {class: "axis", x1: left, y1: top + H, x2: W - 10, y2: top + H}));
    svg.append(el("svg:line", {class: "axis", x1: left, y1: top, x2: left, y2: top + H}));
    for (const L of [1, 10, 100, 500].filter((v) => v <= maxLen)) {
      svg.append(el("svg:text", {x: left - 6, y: yOf(L) + 4, "text-anchor": "end"}, String(L)));
    }
    for (let k = 0; k <= 4; ++k) {
      const pos = Math.round(record.length * k / 4);
      svg.append(el("svg:text", {x: left + pos * scale, y: top + H + 16, "text-anchor": k === 0 ? "start" : k === 4 ? "end" : "middle"}, fmt.format(pos)));
    }
    let d = "";
    for (const i of list) {
      const r = rows[i];
      const x = left + (r[START] - 1) * scale, w = Math.max(1.5, (r[END] - r[START] + 1) * scale);
      d += "M" + x.toFixed(2) + " " + (yOf(r[LEN]) - 1.5).toFixed(2) + "h" + w.toFixed(2) + "v3h" + (-w).toFixed(2) + "z";
    }
    svg.append(el("svg:path", {class: "repeats", d: d}));
    // The repeat under the pointer: the nearest mark within a few pixels, or -1.
    const pointedAt = (event) => {
      const box = svg.getBoundingClientRect();
      const px = (event.clientX - box.left) * W / box.width, py = (event.clientY - box.top) * W / box.width;
      const pos = (px - left) / scale, tolerance = 4 / scale;
      let best = -1, bestDistance = Infinity;
      for (const i of list) {  // by start: stop once the starts pass the pointer
        const r = rows[i];
        if (r[START] - 1 > pos + tolerance) break;
        if (r[END] < pos - tolerance) continue;
        const distance = Math.abs(yOf(r[LEN]) - py);
        if (distance < bestDistance) { bestDistance = distance; best = i; }
      }
      return bestDistance < 12 ? best : -1;
    };
    svg.addEventListener("mousemove", (event) => {
      const i = pointedAt(event);
      if (i >= 0) showTip(event, describe(rows[i])); else hideTip();
    });
    svg.addEventListener("click", (event) => {
      const i = pointedAt(event);
      if (i >= 0) table.select(i, true);
    });
    svg.addEventListener("mouseleave", hideTip);
    div.append(svg);
    holder.append(div);
  }
  if (byRecord.size === 0) holder.append(el("p", {class: "note"}, "No repeats were found."));
})();

// Histogram of the periods (consensus lengths) of every repeat, on a
// logarithmic axis, with the period classes marked and counted.
(function histogram() {
  const counts = new Map(data.lengths);
  const maxLen = Math.max(10, ...counts.keys()), maxCount = Math.max(1, ...counts.values());
  const W = 960, H = 160, left = 48, top = 22, right = 10;
  const span = Math.log(maxLen + 1);  // motif length L spans [L, L + 1) on the log axis
  const xOf = (L) => left + (W - left - right) * Math.log(L) / span;
  const svg = document.getElementById("hist");
  svg.setAttribute("viewBox", "0 0 " + W + " " + (H + top + 24));
  svg.append(el("svg:line", {class: "axis", x1: left, y1: top + H, x2: W - right, y2: top + H}));
  svg.append(el("svg:text", {x: left - 6, y: top + 8, "text-anchor": "end"}, fmt.format(maxCount)));
  svg.append(el("svg:text", {x: left - 6, y: top + H, "text-anchor": "end"}, "0"));
  for (const L of [1, 2, 5, 10, 20, 50, 100, 200, 500].filter((v) => v <= maxLen)) {
    svg.append(el("svg:text", {x: (xOf(L) + xOf(L + 1)) / 2, y: top + H + 16, "text-anchor": "middle"}, String(L)));
  }
  const perClass = CLASSES.map((c) => c.repeats);
  CLASSES.forEach((c, i) => {
    if (c.low > maxLen) return;
    const x0 = xOf(c.low), x1 = xOf(Math.min(c.high, maxLen) + 1);
    svg.append(el("svg:line", {class: "class-mark", x1: x0, y1: top - 14, x2: x0, y2: top + H}));
    svg.append(el("svg:text", {x: (x0 + x1) / 2, y: top - 6, "text-anchor": "middle"},
                  c.name + ": " + fmt.format(perClass[i])));
  });
  for (const [L, n] of counts) {
    const h = Math.max(1, H * n / maxCount);
    const bar = el("svg:rect", {class: "bar", x: xOf(L), y: top + H - h, width: Math.max(1, xOf(L + 1) - xOf(L) - 0.5),
                                height: h});
    bar.append(el("svg:title", {}, "period " + L + ": " + fmt.format(n) + " repeats"));
    svg.append(bar);
  }
  document.getElementById("classes").textContent = "Periods " + CLASSES.map((c) =>
    c.name + ": " + fmt.format(c.repeats) + " repeats covering " + fmt.format(c.covered) + " bases").join("; ") + ".";
})();

// The table: filtered, sorted and paged, 100 rows a page.
const table = (function () {
  const pageSize = 100;
  const state = {sort: null, descending: false, page: 0, view: rows.map((_, i) => i)};
  const body = document.querySelector("#repeat-table tbody");
  // A list of the records with rows to choose from, or, when they are too
  // many for a list, a field matching part of their names.
  const withRows = [...new Set(rows.map((r) => r[R]))];
  const byName = withRows.length > 1000;
  let recordFilter = document.getElementById("filter-record");
  if (byName) {
    const field = el("input", {id: "filter-record", type: "search", placeholder: "part of a name"});
    recordFilter.replaceWith(field);
    recordFilter = field;
    field.parentElement.firstChild.textContent = "Record name containing";
  } else {
    withRows.forEach((i) => recordFilter.append(el("option", {value: String(i)}, data.records[i].name)));
  }
  const minFilter = document.getElementById("filter-min"), maxFilter = document.getElementById("filter-max");
  // The filter's range is that of the motif lengths found.
  const longest = String(data.lengths.reduce((m, [L]) => Math.max(m, L), 1));
  minFilter.max = longest;
  maxFilter.max = longest;
  const status = document.getElementById("showing");
  const hasLinks = rows.some((r) => r[PAGE] >= 0);
  if (!hasLinks) document.querySelectorAll(".link-column").forEach((e) => e.remove());
  const keyOf = {record: (r) => r[R], start: (r) => r[START], end: (r) => r[END], span: (r) => r[END] - r[START] + 1,
                 length: (r) => r[LEN], units: (r) => parseFloat(r[UNITS]), value: (r) => parseFloat(r[VALUE]),
                 motif: (r) => r[MOTIF]};
  let selected = -1;  // the row chosen on a track

  // A motif cell: a long motif shows its first letters and a button for the rest.
  function motifCell(motif) {
    const td = el("td", {class: "motif"});
    if (motif.length <= MOTIF_SHOWN + 8) {
      td.textContent = motif;
      return td;
    }
    const text = el("span", {}, motif.slice(0, MOTIF_SHOWN) + "\u2026");
    const more = el("button", {type: "button", class: "more", "aria-expanded": "false"}, "show all " + motif.length);
    more.addEventListener("click", () => {
      const open = more.getAttribute("aria-expanded") === "false";
      text.textContent = open ? motif : motif.slice(0, MOTIF_SHOWN) + "\u2026";
      more.textContent = open ? "show less" : "show all " + motif.length;
      more.setAttribute("aria-expanded", String(open));
    });
    td.append(text, " ", more);
    return td;
  }

  function render() {
    body.textContent = "";
    const first = state.page * pageSize, last = Math.min(state.view.length, first + pageSize);
    for (let k = first; k < last; ++k) {
      const r = rows[state.view[k]];
      const tr = el("tr", state.view[k] === selected ? {class: "selected", id: "selected-row"} : {});
      tr.append(el("td", {}, data.records[r[R]].name), el("td", {class: "num"}, String(r[START])),
                el("td", {class: "num"}, String(r[END])), el("td", {class: "num"}, fmt.format(r[END] - r[START] + 1)),
                el("td", {class: "num"}, String(r[LEN])), el("td", {class: "num"}, r[UNITS]),
                el("td", {class: "num"}, r[VALUE]), motifCell(r[MOTIF]));
      if (hasLinks) {
        const td = el("td");
        if (r[PAGE] >= 0) td.append(el("a", {href: linkOf(r)}, "alignment"));
        tr.append(td);
      }
      body.append(tr);
    }
    status.textContent = state.view.length === 0 ? "No repeats match." :
      "Repeats " + fmt.format(first + 1) + "\u2013" + fmt.format(last) + " of " + fmt.format(state.view.length) +
      (state.view.length < rows.length ? " (filtered from " + fmt.format(rows.length) + ")" : "");
    document.getElementById("previous").disabled = state.page === 0;
    document.getElementById("next").disabled = last >= state.view.length;
  }
  function update() {
    const record = recordFilter.value, low = parseInt(minFilter.value, 10), high = parseInt(maxFilter.value, 10);
    state.view = [];
    rows.forEach((r, i) => {
      if (record !== "" && (byName ? !data.records[r[R]].name.includes(record) : r[R] !== Number(record))) return;
      if (!Number.isNaN(low) && r[LEN] < low) return;
      if (!Number.isNaN(high) && r[LEN] > high) return;
      state.view.push(i);
    });
    if (state.sort) {
      const key = keyOf[state.sort], sign = state.descending ? -1 : 1;
      state.view.sort((a, b) => {
        const x = key(rows[a]), y = key(rows[b]);
        return x < y ? -sign : x > y ? sign : a - b;  // ties keep the output order
      });
    }
    state.page = 0;
    render();
  }
  document.querySelectorAll("#repeat-table th[data-key]").forEach((th) => {
    th.querySelector("button").addEventListener("click", () => {
      const key = th.dataset.key;
      state.descending = state.sort === key ? !state.descending : false;
      state.sort = key;
      document.querySelectorAll("#repeat-table th[data-key]").forEach((o) => o.removeAttribute("aria-sort"));
      th.setAttribute("aria-sort", state.descending ? "descending" : "ascending");
      update();
    });
  });
  // A filter's "change" follows its "input" when it loses focus: the rows are
  // not drawn again then, or the click that took the focus would be lost.
  let filters = "";
  const filtersChanged = () => {
    const now = [recordFilter.value, minFilter.value, maxFilter.value].join("\u0000");
    const changed = now !== filters;
    filters = now;
    return changed;
  };
  for (const control of [recordFilter, minFilter, maxFilter]) {
    control.addEventListener("input", () => { if (filtersChanged()) update(); });
    control.addEventListener("change", () => { if (filtersChanged()) update(); });
  }
  document.getElementById("previous").addEventListener("click", () => { state.page--; render(); });
  document.getElementById("next").addEventListener("click", () => { state.page++; render(); });
  update();
  // Shows row i on its page, marked, with every filter cleared; `open`
  // follows its link to the alignment when it has one.
  state.select = (i, open) => {
    recordFilter.value = "";
    minFilter.value = "";
    maxFilter.value = "";
    filtersChanged();
    update();
    selected = i;
    state.page = Math.floor(state.view.indexOf(i) / pageSize);
    render();
    document.getElementById("selected-row").scrollIntoView({block: "center"});
    if (open && rows[i][PAGE] >= 0) window.location.href = linkOf(rows[i]);
  };
  return state;
})();
document.body.dataset.ready = "yes";
