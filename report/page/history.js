// The history, read from the meter's files: a chart of a day (or any range) with the periods'
// LAeq,T and LA90,T as steps and the events as marks that play their clip, a spectrogram of the
// 30 bands aligned with it, the day's levels, the hourly table and the events. Used by the live
// page (with its controls) and by the day report (printed: no controls, every event listed).
"use strict";

(function () {
  const DAY_MS = 24 * 3600 * 1000;
  const BANDS = ["20Hz", "25Hz", "31.5Hz", "40Hz", "50Hz", "63Hz", "80Hz", "100Hz", "125Hz",
    "160Hz", "200Hz", "250Hz", "315Hz", "400Hz", "500Hz", "630Hz", "800Hz", "1kHz", "1.25kHz",
    "1.6kHz", "2kHz", "2.5kHz", "3.15kHz", "4kHz", "5kHz", "6.3kHz", "8kHz", "10kHz", "12.5kHz",
    "16kHz"];
  const EVENTS_PER_PAGE = 20;

  const $ = (id) => document.getElementById(id);
  const fixed = (v, d = 1) => (v === null || v === undefined ? "–" : v.toFixed(d));

  function getJson(url) {
    return fetch(url, { cache: "no-store" }).then((r) =>
      r.ok ? r.json() : r.text().then((t) => Promise.reject(new Error(url + ": " + t))));
  }

  // "2026-12-08" + n days, by the calendar (no clock involved).
  function addDays(day, n) {
    const d = new Date(day + "T12:00:00Z");
    d.setUTCDate(d.getUTCDate() + n);
    return d.toISOString().slice(0, 10);
  }

  // "23:14:05" of an ISO local time ("2026-12-08T23:14:05.120+01:00"): the meter's own clock.
  const clockOf = (local) => (local ? local.slice(11, 19) : "");
  // An event's start on the meter's clock; the browser's for a list written before that.
  const startOf = (e) => e.startLocal ||
    new Date(Date.parse(e.start) - new Date(Date.parse(e.start)).getTimezoneOffset() * 60000)
      .toISOString().slice(0, 19);

  const state = {
    from: null, to: null, // what is shown: ms, or "2026-12-08" for a local midnight
    chart: null,
    rows: null,
    events: [],
    spectrogram: null, // {t: [...], stepMs, values: [[...] per band]}
    eventsOffset: 0,
    printing: false,
    loaded: 0, // views drawn since the page was opened
  };
  window.fieldmeterHistory = state; // for a look from the browser's console, and the tests

  function player(url) {
    const audio = document.createElement("audio");
    audio.controls = true;
    audio.preload = "none";
    audio.src = url;
    return audio;
  }

  // The chart ------------------------------------------------------------------------------

  function chartRows(history, summary) {
    const byTime = new Map();
    const row = (t) => {
      let r = byTime.get(t);
      if (!r) {
        r = [new Date(t), null, null, null, null];
        byTime.set(t, r);
      }
      return r;
    };
    const step = history.stepMs;
    let last = null;
    history.t.forEach((t, i) => {
      if (last !== null && t - last > step) row(last + step); // a gap: the lines break
      const r = row(t);
      r[1] = history.values[0][i];
      r[2] = history.values[1][i];
      last = t;
    });
    if (last !== null) row(last + step);
    let end = null;
    for (const p of summary.periods) {
      const r = row(p.startMs);
      r[3] = p.LAeq_T;
      r[4] = p.LA90_T;
      if (end !== null && end !== p.startMs) row(end)[3] = null;
      end = p.endMs;
    }
    if (end !== null) {
      const last = summary.periods[summary.periods.length - 1];
      const r = row(end);
      r[3] = last.LAeq_T;
      r[4] = last.LA90_T;
    }
    return Array.from(byTime.values()).sort((a, b) => a[0] - b[0]);
  }

  function drawChart(history, summary, range) {
    const rows = chartRows(history, summary);
    state.rows = rows;
    const box = $("history-chart");
    const options = {
      labels: ["time", "LAeq,1s", "LAFmax,1s", "LAeq,T", "LA90,T"],
      colors: ["#e65100", "#1565c0", "#2e7d32", "#6a1b9a"],
      series: {
        "LAeq,1s": { strokeWidth: 1 },
        "LAFmax,1s": { strokeWidth: 1 },
        "LAeq,T": { stepPlot: true, strokeWidth: 2.5, connectSeparatedPoints: true },
        "LA90,T": { stepPlot: true, strokeWidth: 2.5, connectSeparatedPoints: true,
          strokePattern: [6, 3] },
      },
      dateWindow: range,
      ylabel: "dB",
      xlabel: "local time",
      legend: "always",
      labelsDiv: $("history-legend"),
      labelsSeparateLines: false,
      axes: { y: { valueFormatter: (v) => fixed(v, 2) } },
      includeZero: false,
      animatedZooms: false,
      showRangeSelector: !state.printing,
      rangeSelectorHeight: 40,
      interactionModel: state.printing ? {} : Dygraph.defaultInteractionModel,
      annotationClickHandler: (a) => playEvent(a.event),
      drawCallback: (g) => drawSpectrogram(g),
      zoomCallback: (lo, hi) => onZoom(lo, hi),
    };
    if (state.chart) state.chart.destroy();
    state.chart = null;
    state.chart = new Dygraph(box, rows.length ? rows : [[new Date(range[0]), null, null, null,
      null]], options);
    markEvents();
  }

  // The events as marks on the LAFmax,1s line, at the step each one began in.
  function markEvents() {
    if (!state.chart || !state.rows || !state.rows.length) return;
    const times = state.rows.map((r) => r[0].getTime());
    const marks = [];
    for (const e of state.events) {
      const start = Date.parse(e.start);
      let lo = 0, hi = times.length - 1;
      while (lo < hi) { // the last row at or before the start
        const mid = (lo + hi + 1) >> 1;
        if (times[mid] <= start) lo = mid; else hi = mid - 1;
      }
      if (state.rows[lo][2] === null) continue;
      marks.push({ series: "LAFmax,1s", x: times[lo], shortText: "E", width: 16, height: 16,
        text: clockOf(startOf(e)) + " LAFmax " + fixed(e.LAFmax) + " " + e.unit,
        cssClass: "event-mark" + (e.url ? "" : " no-clip"), event: e });
    }
    state.chart.setAnnotations(marks);
  }

  function playEvent(e) {
    if (!e || !e.url) return;
    const audio = $("history-player");
    audio.src = e.url;
    audio.play().catch(() => {});
    $("history-playing").textContent = "playing the event at " + clockOf(startOf(e));
  }

  // Zoomed into a range shown in steps longer than a second: the range again, finer.
  function onZoom(lo, hi) {
    if (state.history && state.history.stepMs > 1000 && hi - lo < (state.to - state.from) / 2) {
      load(Math.floor(lo), Math.ceil(hi), true);
    }
  }

  // The spectrogram (a canvas of our own, aligned with the chart's plot area) -----------------

  function colour(f) { // 0 ... 1: dark blue, through green and yellow, to red
    const stops = [[40, 20, 120], [30, 120, 200], [40, 180, 90], [240, 220, 40], [220, 40, 30]];
    const x = Math.min(Math.max(f, 0), 1) * (stops.length - 1);
    const i = Math.min(Math.floor(x), stops.length - 2), t = x - i;
    return stops[i].map((c, k) => Math.round(c + (stops[i + 1][k] - c) * t));
  }

  function drawSpectrogram(chart = state.chart) {
    const canvas = $("history-spectrogram");
    const s = state.spectrogram;
    if (!canvas || !chart) return;
    const area = chart.getArea();
    const ratio = window.devicePixelRatio || 1;
    const w = Math.round(canvas.clientWidth * ratio), h = Math.round(canvas.clientHeight * ratio);
    if (w <= 0 || h <= 0) return;
    canvas.width = w;
    canvas.height = h;
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, w, h);
    const legendH = 22 * ratio, bottom = h - legendH - 4 * ratio;
    const [t0, t1] = chart.xAxisRange();
    const x = (t) => (area.x + ((t - t0) / (t1 - t0)) * area.w) * ratio;
    g.font = 11 * ratio + "px system-ui, sans-serif";
    g.fillStyle = "#5d6675";
    g.textAlign = "right";
    g.textBaseline = "middle";
    const rowH = (bottom - 8 * ratio) / BANDS.length; // room above for the top band's label
    // The canvas' row through the middle of band k (0: 20 Hz), for a look from outside.
    state.bandRow = (k) => bottom - (k + 0.5) * rowH;
    BANDS.forEach((b, k) => {
      if (k % 3 === 2) g.fillText(b, area.x * ratio - 4 * ratio, bottom - (k + 0.5) * rowH);
    });
    if (!s || !s.t.length) return;
    let high = -Infinity;
    for (const band of s.values) for (const v of band) if (v !== null && v > high) high = v;
    high = Math.ceil(high / 10) * 10;
    const low = high - 60; // what is quieter is not painted: an empty band stays empty
    state.spectrogramScale = [low, high];
    s.t.forEach((t, i) => {
      const left = Math.max(x(t), area.x * ratio);
      const right = Math.min(x(t + s.stepMs), (area.x + area.w) * ratio);
      if (right <= left) return;
      s.values.forEach((band, k) => {
        const v = band[i];
        if (v === null || v < low) return;
        const [r, gr, b] = colour((v - low) / (high - low));
        g.fillStyle = "rgb(" + r + "," + gr + "," + b + ")";
        g.fillRect(left, bottom - (k + 1) * rowH, Math.max(right - left, 1), Math.ceil(rowH));
      });
    });
    // The colour scale in dB.
    const scaleX = area.x * ratio, scaleW = Math.min(area.w * ratio, 300 * ratio);
    for (let i = 0; i < scaleW; ++i) {
      const [r, gr, b] = colour(i / scaleW);
      g.fillStyle = "rgb(" + r + "," + gr + "," + b + ")";
      g.fillRect(scaleX + i, h - legendH, 1, 10 * ratio);
    }
    g.fillStyle = "#1d2430";
    g.textBaseline = "top";
    g.textAlign = "left";
    g.fillText(low + " dB", scaleX, h - legendH + 11 * ratio);
    g.textAlign = "right";
    g.fillText(high + " dB", scaleX + scaleW, h - legendH + 11 * ratio);
    g.textAlign = "left";
    g.fillText("LZeq of the third-octave bands", scaleX + scaleW + 12 * ratio, h - legendH);
  }

  // The day's levels and the hourly table ----------------------------------------------------

  function energyMean(pairs) { // [level, seconds]
    let sum = 0, seconds = 0;
    for (const [v, s] of pairs) {
      if (v === null || !s) continue;
      sum += s * Math.pow(10, v / 10);
      seconds += s;
    }
    return seconds ? 10 * Math.log10(sum / seconds) : null;
  }

  function showLevels(summary, day) {
    const box = $("history-levels");
    box.textContent = "";
    const d = summary.days.find((x) => x.date === day);
    const table = document.createElement("table");
    table.createCaption().textContent = day ? "The day " + day : "The range";
    for (const key of ["Lday", "Levening", "Lnight", "Lden"]) {
      const r = table.insertRow();
      r.dataset.key = key;
      r.insertCell().textContent = key;
      r.insertCell().textContent = d ? fixed(d[key]) : "–";
      r.insertCell().textContent = d ? (d.calibrated ? "dB" : "dBFS") : "";
    }
    box.appendChild(table);
    if (!d) {
      const p = document.createElement("p");
      p.className = "note";
      p.textContent = "Lday, Levening, Lnight and Lden come from the summary's row for a whole " +
        "day; " + (day ? "there is none for this day." : "pick a day to see them.");
      box.appendChild(p);
    }
  }

  function showHours(summary, events) {
    const table = $("history-hours");
    table.textContent = "";
    const head = table.createTHead().insertRow();
    for (const name of ["hour", "LAeq", "LAFmax", "LA10", "LA90", "events"]) {
      const th = document.createElement("th");
      th.textContent = name;
      head.appendChild(th);
    }
    const hours = new Map();
    for (const p of summary.periods) {
      const hour = p.startLocal.slice(0, 13);
      if (!hours.has(hour)) hours.set(hour, { periods: [], events: 0 });
      hours.get(hour).periods.push(p);
    }
    for (const e of events) {
      const hour = startOf(e).slice(0, 13);
      if (hours.has(hour)) hours.get(hour).events += 1;
    }
    const body = table.createTBody();
    for (const [hour, h] of Array.from(hours.entries()).sort()) {
      const ps = h.periods;
      // LA10 and LA90 of an hour are those of a period that is the whole hour; shorter
      // periods' percentiles do not combine into the hour's.
      const whole = ps.length === 1 && ps[0].endMs - ps[0].startMs === 3600000 ? ps[0] : null;
      const maxima = ps.map((p) => p.LAFmax_T).filter((v) => v !== null);
      const r = body.insertRow();
      r.dataset.hour = hour.slice(11, 13);
      for (const v of [hour.slice(11, 13) + ":00",
        fixed(energyMean(ps.map((p) => [p.LAeq_T, p.measured_s]))),
        fixed(maxima.length ? Math.max(...maxima) : null),
        whole ? fixed(whole.LA10_T) : "–", whole ? fixed(whole.LA90_T) : "–", String(h.events)]) {
        r.insertCell().textContent = v;
      }
    }
    if (!hours.size) {
      body.insertRow().insertCell().textContent = "no summary periods in this range";
    }
  }

  // The events: paged and filtered, newest first ---------------------------------------------

  function showEvents(list) {
    const box = $("history-events");
    box.textContent = "";
    if (box.tagName === "TABLE") { // the report: a table, every event of the day
      const head = box.createTHead().insertRow();
      for (const name of ["start", "s", "trigger", "LAFmax", "LAeq", "LCpeak", "", "clip"]) {
        const th = document.createElement("th");
        th.textContent = name;
        head.appendChild(th);
      }
      const body = box.createTBody();
      for (const e of list.events) {
        const r = body.insertRow();
        for (const v of [startOf(e).slice(11, 19), fixed(e.durationS), e.trigger, fixed(e.LAFmax),
          fixed(e.LAeq), fixed(e.LCpeak), e.unit, e.url ? e.clip : "–"]) {
          r.insertCell().textContent = v;
        }
      }
    }
    for (const e of box.tagName === "TABLE" ? [] : list.events) {
      const li = document.createElement("li");
      li.dataset.start = e.start;
      const head = document.createElement("div");
      head.className = "levels";
      head.textContent = startOf(e).slice(0, 10) + " " + clockOf(startOf(e)) + " · " +
        fixed(e.durationS) + " s · " + e.trigger + " · LAFmax " + fixed(e.LAFmax) + " · LAeq " +
        fixed(e.LAeq) + " · LCpeak " + fixed(e.LCpeak) + " " + e.unit;
      li.appendChild(head);
      if (e.url) li.appendChild(player(e.url));
      else li.appendChild(document.createTextNode(e.kept ? "(clip missing)" : "(no clip kept)"));
      box.appendChild(li);
    }
    const note = $("history-events-note");
    if (note) {
      note.textContent = list.total
        ? (list.offset + 1) + "–" + (list.offset + list.events.length) + " of " + list.total +
          " events, the newest first"
        : "no events in this range";
    }
  }

  function eventsUrl(from, to, offset, limit) {
    const filter = $("events-filter-min");
    const min = filter && filter.value !== "" ? "&min=" + encodeURIComponent(filter.value) : "";
    let lo = from, hi = to;
    const fromClock = $("events-filter-from"), toClock = $("events-filter-to");
    // The times of day in the filter narrow a one-day range.
    if (typeof from === "string" && fromClock && fromClock.value) {
      lo = localInstant(from, fromClock.value);
    }
    if (typeof from === "string" && toClock && toClock.value) hi = localInstant(from, toClock.value);
    return "/api/events?from=" + lo + "&to=" + hi + min + "&offset=" + offset + "&limit=" + limit;
  }

  // The instant the browser's clock reads `clock` ("06:30") on `day`.
  function localInstant(day, clock) {
    return new Date(day + "T" + clock + ":00").getTime();
  }

  function loadEvents() {
    const from = state.fromText, to = state.toText;
    const limit = state.printing ? 1000 : EVENTS_PER_PAGE;
    return getJson(eventsUrl(from, to, state.eventsOffset, limit)).then((list) => {
      showEvents(list);
      const prev = $("events-newer"), next = $("events-older");
      if (prev) prev.disabled = state.eventsOffset === 0;
      if (next) next.disabled = state.eventsOffset + list.events.length >= list.total;
    });
  }

  // Loading a range --------------------------------------------------------------------------

  // `from`, `to`: "2026-12-08" (local midnights on the meter's clock) or ms. A zoom keeps the
  // day's tables and reloads only the chart's data.
  function load(from, to, zoom = false) {
    if (!zoom) {
      state.fromText = from;
      state.toText = to;
      state.day = typeof from === "string" && addDays(from, 1) === to ? from : null;
    }
    const span = typeof from === "string"
      ? Date.parse(to + "T00:00:00Z") - Date.parse(from + "T00:00:00Z") : to - from;
    const step = Math.max(1, Math.ceil(span / 1000 / 86400)); // up to a day: every second
    const bandStep = Math.max(1, Math.ceil(span / 1000 / 1200));
    const range = "from=" + from + "&to=" + to;
    const bands = BANDS.map((b) => "LZeq_1s_" + b).join(",");
    $("history-status").textContent = "reading the logs…";
    const wanted = [
      getJson("/api/history?" + range + "&q=LAeq_1s,LAFmax_1s&step=" + step),
      getJson("/api/history?" + range + "&q=" + bands + "&step=" + bandStep),
      zoom ? Promise.resolve(state.summary) : getJson("/api/summary?" + range),
      zoom ? Promise.resolve({ events: state.events })
        : getJson("/api/events?" + range + "&limit=1000"),
    ];
    return Promise.all(wanted).then(([history, spectrogram, summary, events]) => {
      state.history = history;
      state.spectrogram = spectrogram;
      state.summary = summary;
      state.events = events.events;
      state.from = history.fromMs;
      state.to = history.toMs;
      drawChart(history, summary, [history.fromMs, history.toMs]);
      if (!zoom) {
        showLevels(summary, state.day);
        showHours(summary, state.events);
        state.eventsOffset = 0;
        loadEvents();
      }
      $("history-status").textContent = history.t.length
        ? "" : "nothing was logged in this range";
      state.loaded += 1;
    }).catch((e) => {
      $("history-status").textContent = "cannot read the history: " + e.message;
    });
  }

  // The controls (the live page only) --------------------------------------------------------

  function setUp(options) {
    state.printing = !!options.printing;
    return getJson("/api/days").then((d) => {
      state.days = d.days;
      state.timeZone = d.timeZone;
      const picker = $("history-day");
      if (picker) {
        picker.textContent = "";
        for (const day of d.days.slice().reverse()) {
          const o = document.createElement("option");
          o.value = o.textContent = day;
          picker.appendChild(o);
        }
        picker.onchange = () => {
          $("history-report").href = "/report?day=" + picker.value;
          $("history-file").href = "/log/" + picker.value + ".csv";
          load(picker.value, addDays(picker.value, 1));
        };
        $("history-range").onsubmit = (e) => {
          e.preventDefault();
          const from = $("history-from").value, to = $("history-to").value;
          if (from && to) load(new Date(from).getTime(), new Date(to).getTime());
        };
        $("events-newer").onclick = () => {
          state.eventsOffset = Math.max(0, state.eventsOffset - EVENTS_PER_PAGE);
          loadEvents();
        };
        $("events-older").onclick = () => {
          state.eventsOffset += EVENTS_PER_PAGE;
          loadEvents();
        };
        $("events-filter").onsubmit = (e) => {
          e.preventDefault();
          state.eventsOffset = 0;
          loadEvents();
        };
      }
      if (!d.logged) {
        $("history-status").textContent = "the meter keeps no day files: start it with " +
          "--log-dir FOLDER to have a history";
        return null;
      }
      const day = options.day || d.days[d.days.length - 1];
      if (!day) {
        $("history-status").textContent = "nothing logged yet";
        return null;
      }
      if (picker) {
        picker.value = day;
        $("history-report").href = "/report?day=" + day;
        $("history-file").href = "/log/" + day + ".csv";
      }
      return load(day, addDays(day, 1));
    });
  }

  // The day report: its header. The calibration is the day's own (from its summary row), else
  // the meter's now; the date is that of the meter's calibration.
  function header() {
    return getJson("/api/now").then((now) => {
      const c = now.calibration;
      const day = state.summary && state.summary.days.find((d) => d.date === state.day);
      $("report-meter").textContent = now.meter;
      document.title = now.meter + " – day report";
      const date = c.calibrated && c.date ? ", the meter calibrated " + c.date : "";
      $("report-calibration").textContent = day
        ? (day.calibrated ? "0 dBFS = " + fixed(day.calibrationOffsetDb, 2) + " dB (the day's)" + date
          : "not calibrated that day: levels in dBFS")
        : c.calibrated
          ? "0 dBFS = " + fixed(c.offsetDb, 2) + " dB" + (date || ", set for this run")
          : "not calibrated: levels in dBFS";
      $("report-input").textContent = now.input.text;
      $("report-zone").textContent = state.timeZone || "";
    });
  }

  state.setUp = setUp;
  state.load = load;
  window.addEventListener("resize", () => drawSpectrogram());
  const fail = (e) => {
    $("history-status").textContent = "cannot read the history: " + e.message;
  };
  if (document.body.dataset.view === "report") {
    const day = new URLSearchParams(location.search).get("day");
    $("report-day").textContent = day || "";
    setUp({ printing: true, day }).then(header).then(() => {
      document.body.dataset.ready = "true";
    }).catch(fail);
  } else {
    setUp({}).catch(fail);
  }
})();
