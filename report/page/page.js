// The live page: follows the meter's event stream (ten readings a second), draws the trend and
// the spectrum with dygraphs and the bands and the direction map on canvases of its own, lists
// the events and the recordings, and says at once when the meter is lost. It keeps trying to
// reach the meter again, so a restarted meter is followed without reloading the page.
"use strict";

(function () {
  const TREND_MS = 10 * 60 * 1000;
  const LOST_AFTER_MS = 2000; // ten readings a second: two silent seconds mean the meter is gone
  const RETRY_MS = 2000;
  const BIG = ["LAF", "LAeq", "LAFmax", "LCpeak"];

  const page = {
    description: null, // key -> quantity from /api/now
    startedMs: null,
    lastMessageMs: 0,
    lastReading: null,
    lostAt: null,
    lastAttemptMs: 0,
    reconnecting: false,
    refused: false,
    source: null,
    trendRows: [],
    lastSecondIndex: -1,
    trendChanged: false,
    trend: null,
    spectrum: null,
    spectrumHz: null,
    filesText: "",
    alertsText: "",
    limits: [], // the limits' states in the last reading
    messages: 0,
  };
  window.fieldmeterPage = page; // for a look from the browser's console

  const $ = (id) => document.getElementById(id);

  function valueOf(reading, key) {
    if (reading.dB && key in reading.dB) return { value: reading.dB[key], unit: "dB" };
    if (reading.dBFS && key in reading.dBFS) return { value: reading.dBFS[key], unit: "dBFS" };
    return { value: null, unit: "" };
  }

  function text(v, decimals = 1) {
    return v === null || v === undefined ? "–" : v.toFixed(decimals);
  }

  function localTime(ms) {
    return new Date(ms).toLocaleString();
  }

  // The connection -----------------------------------------------------------------------

  function setConnection(state, words) {
    document.body.dataset.connection = state;
    $("connection").textContent = words;
  }

  function markLost() {
    if (page.lostAt === null) {
      page.lostAt = Date.now();
    }
    const since = page.lastMessageMs ? localTime(page.lastMessageMs) : "the start";
    setConnection("lost", page.refused
      ? "LOST: the meter refuses this page's token; open the link with ?token= that it printed"
      : "LOST: no word from the meter since " + since + "; trying again");
  }

  function connect() {
    if (page.source) page.source.close();
    const source = new EventSource("/api/stream");
    page.source = source;
    source.onmessage = (e) => {
      if (page.source === source) onReading(JSON.parse(e.data));
    };
    source.onerror = () => {
      if (page.source === source) markLost();
    };
  }

  // Asks for the whole reading; once the meter answers, follows its stream again. EventSource
  // retries by itself, but gives up for good on some failures (an answer that is no stream).
  function reconnect() {
    if (page.reconnecting) return;
    page.reconnecting = true;
    page.lastAttemptMs = Date.now();
    fetch("/api/now", { cache: "no-store" })
      .then((r) => {
        page.refused = r.status === 401;
        if (!r.ok) throw new Error("status " + r.status);
        return r.json();
      })
      .then((now) => {
        describe(now);
        connect();
      })
      .catch(() => markLost())
      .finally(() => {
        page.reconnecting = false;
      });
  }

  function watch() {
    const now = Date.now();
    if (page.lastMessageMs === 0 || now - page.lastMessageMs > LOST_AFTER_MS) {
      if (page.lastMessageMs !== 0 || now - page.openedMs > LOST_AFTER_MS) markLost();
      if (now - page.lastAttemptMs > RETRY_MS) reconnect();
    }
    $("clock").textContent = new Date().toLocaleString();
  }

  // The reading -----------------------------------------------------------------------------

  // The quantities' descriptions; a new run (the meter started again) starts the trend anew.
  function describe(now) {
    page.description = {};
    for (const q of now.quantities) page.description[q.key] = q;
    if (now.spectrum) page.spectrumHz = now.spectrum.centreHz;
    if (page.startedMs !== now.startedMs) {
      page.startedMs = now.startedMs;
      page.trendRows = [];
      page.lastSecondIndex = -1;
      loadTrend();
    }
    buildTable(now);
  }

  function onReading(r) {
    page.lastMessageMs = Date.now();
    page.messages += 1;
    page.lostAt = null;
    page.refused = false;
    page.lastReading = r;
    setConnection("live", "live: " + r.meter);
    if (r.startedMs !== page.startedMs) {
      reconnect(); // a new run: its descriptions and trend first
      return;
    }
    document.body.dataset.input = r.input.state;
    $("meter").textContent = r.meter;
    document.title = r.meter + " – fieldmeter";
    $("input-banner").textContent = r.input.measuring && r.input.state !== "demo"
      ? "" : r.input.text.toUpperCase();
    for (const key of BIG) {
      const card = document.querySelector('.reading[data-key="' + key + '"]');
      const v = valueOf(r, key);
      card.querySelector(".value").textContent = text(v.value);
      card.querySelector(".unit").textContent = v.unit;
      if (page.description && page.description[key]) {
        card.querySelector(".symbol").textContent = page.description[key].symbol;
      }
    }
    const overload = $("overload");
    overload.classList.toggle("on", r.overload.lastSecond);
    overload.querySelector(".text").textContent = r.overload.lastSecond
      ? "OVERLOAD (" + r.overload.lastSecondSamples + " samples in the last second)"
      : "no overload in the last second";
    const latched = $("overload-latched");
    latched.classList.toggle("on", r.overload.sinceStart);
    latched.textContent = r.overload.sinceStart
      ? "overloaded since the start: " + r.overload.sinceStartSamples + " samples"
      : "no overload since the start";
    // Said only while audio is being lost, and after that as a count since the start.
    $("lost").textContent = r.lost.lastSecondFrames > 0
      ? "AUDIO LOST: " + r.lost.lastSecondFrames + " frames in the last second"
      : r.lost.sinceStartFrames > 0
        ? "audio lost since the start: " + r.lost.sinceStartFrames + " frames" : "";
    const c = r.calibration;
    $("calibration").textContent = c.calibrated
      ? "calibrated" + (c.date ? " on " + localTime(Date.parse(c.date)) : " for this run") +
        " (0 dBFS = " + text(c.offsetDb) + " dB)"
      : "not calibrated: levels in dBFS";
    if (c.micCorrection) {
      $("calibration").textContent += "; corrected for the microphone's file " + c.micCorrection;
    }
    $("since").textContent = "measuring since " + localTime(r.startedMs);
    if (r.second) addSecond(r.second);
    showLimits(r.limits || []);
    drawBands(r);
    drawDirection(r.direction);
    if (r.spectrum) updateSpectrum(r.spectrum);
    if (page.messages % 10 === 0) updateTable(r);
  }

  // The trend ------------------------------------------------------------------------------

  function addSecond(s) {
    if (s.index <= page.lastSecondIndex) return;
    page.lastSecondIndex = s.index;
    for (let i = 0; i < s.LAF.length; ++i) {
      page.trendRows.push([new Date(s.endMs - 1000 + (i + 1) * 100), s.LAeq_1s, s.LAF[i]]);
    }
    page.trendUnit = s.unit;
    page.trendChanged = true;
  }

  function loadTrend() {
    fetch("/api/trend", { cache: "no-store" })
      .then((r) => (r.ok ? r.json() : Promise.reject(new Error("status " + r.status))))
      .then((t) => {
        const live = page.trendRows;
        page.trendRows = [];
        page.lastSecondIndex = -1;
        for (const s of t.seconds) addSecond(s);
        for (const row of live) {
          if (row[0] > (page.trendRows.length ? page.trendRows[page.trendRows.length - 1][0] : 0)) {
            page.trendRows.push(row);
          }
        }
      })
      .catch(() => {});
  }

  function drawTrend() {
    const now = Date.now();
    const rows = page.trendRows;
    let old = 0;
    while (old < rows.length && rows[old][0].getTime() < now - TREND_MS) ++old;
    if (old > 0) rows.splice(0, old);
    const unit = page.trendUnit || "dB";
    const options = {
      file: rows.length ? rows : [[new Date(now), null, null]],
      dateWindow: [now - TREND_MS, now],
      ylabel: unit,
    };
    if (!page.trend) {
      page.trend = new Dygraph($("trend"), options.file, {
        // LAF drawn last, on top: in steady sound it runs along LAeq,1s and must stay seen.
        labels: ["time", "LAeq,1s", "LAF"],
        dateWindow: options.dateWindow,
        ylabel: unit,
        xlabel: "local time",
        colors: ["#e65100", "#1565c0"],
        series: { "LAeq,1s": { stepPlot: true, strokeWidth: 1.5 }, LAF: { strokeWidth: 1 } },
        legend: "always",
        labelsSeparateLines: false,
        axes: { y: { valueFormatter: (v) => text(v) } },
        includeZero: false,
        underlayCallback: drawLimitLines,
        animatedZooms: false,
      });
    } else {
      page.trend.updateOptions(options);
    }
    page.trendChanged = false;
  }

  // Each limit in the trend's unit as a dashed line at its level, named; red while raised.
  function drawLimitLines(canvas, area, g) {
    const unit = page.trendUnit || "dB";
    const [low, high] = g.yAxisRange();
    for (const l of page.limits) {
      if (l.unit !== unit || l.level < low || l.level > high) continue;
      const y = g.toDomYCoord(l.level);
      canvas.save();
      canvas.strokeStyle = l.raised ? "#c62828" : "#6a1b9a";
      canvas.fillStyle = canvas.strokeStyle;
      canvas.setLineDash([6, 4]);
      canvas.beginPath();
      canvas.moveTo(area.x, y);
      canvas.lineTo(area.x + area.w, y);
      canvas.stroke();
      canvas.font = "12px system-ui, sans-serif";
      canvas.fillText(l.name + " " + text(l.level), area.x + 4, y - 3);
      canvas.restore();
    }
  }

  // The limits -----------------------------------------------------------------------------

  function showLimits(limits) {
    page.limits = limits; // the trend draws their lines at its next redraw
    const raised = limits.filter((l) => l.raised);
    document.body.dataset.limit = raised.length ? "raised" : "";
    $("limit-banner").textContent = raised.map((l) =>
      "LIMIT " + l.name + " RAISED since " + new Date(Date.parse(l.sinceUtc)).toLocaleTimeString() +
      " (" + l.spec + ")").join(" · ");
    const list = $("limits");
    if (list.children.length !== limits.length) {
      list.textContent = "";
      for (let i = 0; i < limits.length; ++i) list.appendChild(document.createElement("li"));
    }
    limits.forEach((l, i) => {
      const li = list.children[i];
      li.className = l.raised ? "raised" : "";
      li.textContent = l.spec + ": " + text(l.value) + " " + l.unit +
        (l.coverage !== undefined ? " (" + Math.round(l.coverage * 100) + " % of its time measured)" : "") +
        (l.inWindow ? "" : " · outside its times") + (l.raised ? " · RAISED" : "") +
        " · " + l.episodes + (l.episodes === 1 ? " episode" : " episodes") + ", " +
        l.secondsOver + " s over";
    });
    if (!limits.length) list.textContent = "no limits set (--limit)";
  }

  function showAlerts(a) {
    const list = $("episodes");
    list.textContent = "";
    $("episodes-note").textContent = a.alerts.length ? "recent alerts, the newest first" : "no alerts yet";
    for (const alert of a.alerts) {
      const li = document.createElement("li");
      li.className = alert.alert;
      let words = new Date(Date.parse(alert.timeUtc)).toLocaleString() + " · " + alert.limit + " " +
        alert.alert + " · ";
      if (alert.alert === "raised") {
        words += text(alert.value) + " " + alert.unit + " above " + text(alert.level);
        if (alert.episodesNotAlerted) words += " · " + alert.episodesNotAlerted + " episodes since the last alert";
      } else {
        words += "from " + new Date(Date.parse(alert.startUtc)).toLocaleTimeString() + " for " +
          Math.round(alert.durationSeconds) + " s · max " + text(alert.maximum) + " · LAeq " +
          text(alert.LAeq) + " " + alert.unit;
      }
      li.appendChild(document.createTextNode(words));
      for (const clip of alert.clips) {
        const url = "/events/" + encodeURIComponent(clip);
        const audio = document.createElement("audio");
        audio.controls = true;
        audio.preload = "none";
        audio.src = url;
        li.appendChild(audio);
        li.appendChild(link(url, "download " + clip));
      }
      list.appendChild(li);
    }
  }

  function refreshAlerts() {
    if (document.body.dataset.connection !== "live" || !page.limits.length) return;
    fetch("/api/alerts", { cache: "no-store" })
      .then((r) => (r.ok ? r.text() : Promise.reject(new Error("status " + r.status))))
      .then((body) => {
        if (body !== page.alertsText) { // rebuilding would stop a clip being played
          page.alertsText = body;
          showAlerts(JSON.parse(body));
        }
      })
      .catch(() => {});
  }

  // The spectrum ---------------------------------------------------------------------------

  function updateSpectrum(s) {
    if (!page.spectrumHz || page.spectrumHz.length !== s.dB.length) return;
    const offset = page.lastReading && page.lastReading.calibration.calibrated
      ? page.lastReading.calibration.offsetDb : 0;
    // Plotted above the axis' bottom: dygraphs fills towards 0, which would shade the empty
    // side of the curve wherever 0 dB is within the axis (always, in dBFS).
    const bottom = offset - 120;
    const rows = page.spectrumHz.map((hz, k) => [hz, s.dB[k] === null ? null
      : Math.max(s.dB[k] - bottom, 0)]);
    const options = {
      file: rows,
      ylabel: s.unit + " in bands of " + text(page.spectrumHz[1] - page.spectrumHz[0], 0) + " Hz",
      valueRange: [0, 125],
      axes: { x: { logscale: true }, y: { axisLabelFormatter: (v) => String(Math.round(v + bottom)),
        valueFormatter: (v) => text(v + bottom) } },
    };
    if (!page.spectrum) {
      page.spectrum = new Dygraph($("spectrum"), rows, {
        labels: ["Hz", "level"],
        axes: options.axes,
        xlabel: "frequency (Hz, logarithmic)",
        ylabel: options.ylabel,
        valueRange: options.valueRange,
        colors: ["#2e7d32"],
        fillGraph: true,
        legend: "never",
      });
    } else {
      page.spectrum.updateOptions(options);
    }
  }

  // The bands (a canvas of our own: bars) ----------------------------------------------------

  function bandKeys() {
    if (!page.description) return [];
    return Object.values(page.description)
      .filter((q) => q.bandHz !== null && q.interval === "now")
      .sort((a, b) => a.bandHz - b.bandHz);
  }

  function hzLabel(hz) {
    return hz >= 1000 ? (hz / 1000).toString() + "k" : hz.toString();
  }

  // The canvas's own pixels to the size it is shown at, so that its text is as large as the
  // page's.
  function fit(canvas, aspect) {
    const w = Math.round(canvas.clientWidth * (window.devicePixelRatio || 1));
    const h = Math.round(w * aspect);
    if (w > 0 && (canvas.width !== w || canvas.height !== h)) {
      canvas.width = w;
      canvas.height = h;
    }
  }

  function drawBands(r) {
    const canvas = $("bands");
    fit(canvas, 0.55);
    const g = canvas.getContext("2d");
    const w = canvas.width, h = canvas.height;
    const left = 48, right = 10, top = 10, bottom = 40;
    g.clearRect(0, 0, w, h);
    const bands = bandKeys();
    const values = bands.map((q) => valueOf(r, q.key));
    const unit = values.length ? values[0].unit : "dB";
    const offset = r.calibration.calibrated ? r.calibration.offsetDb : 0;
    const high = Math.ceil(offset / 10) * 10, low = high - 100;
    const y = (db) => top + (h - top - bottom) * (1 - (Math.min(Math.max(db, low), high) - low) / (high - low));
    g.font = "12px system-ui, sans-serif";
    g.strokeStyle = "#d5d9df";
    g.fillStyle = "#5d6675";
    g.textAlign = "right";
    g.textBaseline = "middle";
    for (let db = low; db <= high; db += 20) {
      g.beginPath();
      g.moveTo(left, y(db));
      g.lineTo(w - right, y(db));
      g.stroke();
      g.fillText(String(db), left - 6, y(db));
    }
    g.save();
    g.translate(12, (h - bottom) / 2);
    g.rotate(-Math.PI / 2);
    g.textAlign = "center";
    g.fillText(unit, 0, 0);
    g.restore();
    const slot = (w - left - right) / Math.max(bands.length, 1);
    g.textAlign = "center";
    g.textBaseline = "top";
    bands.forEach((q, i) => {
      const x = left + i * slot;
      const v = values[i].value;
      if (v !== null) {
        g.fillStyle = "#1565c0";
        g.fillRect(x + 1, y(v), slot - 2, h - bottom - y(v));
      }
      if (i % 3 === 2) {
        g.fillStyle = "#5d6675";
        g.fillText(hzLabel(q.bandHz), x + slot / 2, h - bottom + 4);
      }
    });
    g.fillText("Hz (third-octave bands)", (w + left) / 2, h - 16);
    if (!values.some((v) => v.value !== null)) {
      g.fillStyle = "#9aa1ab";
      g.font = "bold 24px system-ui, sans-serif";
      g.textBaseline = "middle";
      g.fillText("no data", (w + left) / 2, (h - bottom) / 2);
    }
  }

  // The direction map (a canvas of our own: a polar plot) -----------------------------------

  // Yaw 0 is up and a turn to the left (a positive yaw) goes anticlockwise, as seen from above.
  function drawDirection(d) {
    const canvas = $("direction");
    fit(canvas, 1);
    const g = canvas.getContext("2d");
    const w = canvas.width, h = canvas.height;
    const cx = w / 2, cy = h / 2, R = Math.min(w, h) / 2 - 28;
    g.clearRect(0, 0, w, h);
    g.strokeStyle = "#d5d9df";
    g.fillStyle = "#5d6675";
    g.font = "12px system-ui, sans-serif";
    g.textAlign = "center";
    g.textBaseline = "middle";
    const levels = d ? d.LAeq.filter((v) => v !== null) : [];
    // A microphone that never turns (one sector, or none) gets no map: its panel stays hidden.
    canvas.closest(".panel").hidden = levels.length < 2;
    const high = levels.length ? Math.ceil(Math.max(...levels) / 10) * 10 : 0;
    const low = high - 60;
    for (let ring = 1; ring <= 3; ++ring) {
      g.beginPath();
      g.arc(cx, cy, (R * ring) / 3, 0, 2 * Math.PI);
      g.stroke();
    }
    for (const [deg, label] of [[0, "0°"], [90, "90°"], [180, "180°"], [270, "270°"]]) {
      const a = (deg * Math.PI) / 180;
      g.fillText(label, cx - (R + 16) * Math.sin(a), cy - (R + 16) * Math.cos(a));
    }
    if (!levels.length) {
      g.fillText("no seconds measured yet", cx, cy + R / 2);
      return;
    }
    const step = d.sectorDegrees;
    d.LAeq.forEach((v, s) => {
      if (v === null) return;
      const r = Math.max(R * 0.04, (R * (Math.min(v, high) - low)) / (high - low));
      const from = ((-90 - (s + 1) * step) * Math.PI) / 180;
      const to = ((-90 - s * step) * Math.PI) / 180;
      const heat = Math.min(Math.max((v - low) / (high - low), 0), 1);
      g.fillStyle = "hsl(" + Math.round(220 - 220 * heat) + ", 80%, 50%)";
      g.beginPath();
      g.moveTo(cx, cy);
      g.arc(cx, cy, r, from, to);
      g.closePath();
      g.fill();
    });
    // The rings' levels along the lower right, where the labels of the turn are not.
    g.fillStyle = "#1d2430";
    for (let ring = 1; ring <= 3; ++ring) {
      const r = (R * ring) / 3;
      g.fillText(String(low + ring * 20), cx + r * Math.SQRT1_2, cy + r * Math.SQRT1_2);
    }
    g.textAlign = "left";
    g.fillText("LAeq, " + d.unit, 4, 10);
  }

  // Every value ------------------------------------------------------------------------------

  const INTERVALS = { now: "now", "1s": "the last second", run: "since the start",
    T: "the last summary period", day: "the last whole day" };

  // A table for each interval, in the description's order.
  function buildTable(now) {
    const box = $("quantities");
    box.textContent = "";
    const tables = {};
    for (const q of now.quantities) {
      if (!tables[q.interval]) {
        tables[q.interval] = document.createElement("table");
        tables[q.interval].createCaption().textContent = INTERVALS[q.interval] || q.interval;
        box.appendChild(tables[q.interval]);
      }
      const row = tables[q.interval].insertRow();
      row.dataset.key = q.key;
      row.insertCell().textContent = q.symbol;
      row.insertCell().textContent = text(q.value);
      row.insertCell().textContent = q.unit;
    }
  }

  function updateTable(r) {
    for (const row of document.querySelectorAll("#quantities tr")) {
      const v = valueOf(r, row.dataset.key);
      row.cells[1].textContent = text(v.value);
      row.cells[2].textContent = v.unit;
    }
  }

  // Events and files ------------------------------------------------------------------------

  function link(url, words) {
    const a = document.createElement("a");
    a.href = url;
    a.textContent = words;
    a.setAttribute("download", "");
    return a;
  }

  function showFiles(f) {
    const events = $("events");
    events.textContent = "";
    $("events-note").textContent = f.eventsTotal
      ? f.eventsTotal + (f.eventsTotal === 1 ? " event" : " events, the newest first")
      : "no events yet";
    for (const e of f.events) {
      const li = document.createElement("li");
      li.dataset.start = e.start;
      const head = document.createElement("div");
      head.className = "levels";
      head.textContent = localTime(Date.parse(e.start)) + " · " + text(e.durationS) + " s · " +
        e.trigger + " · LAFmax " + text(e.LAFmax) + " · LAeq " + text(e.LAeq) + " · LCpeak " +
        text(e.LCpeak) + " " + e.unit;
      li.appendChild(head);
      if (e.url) {
        const audio = document.createElement("audio");
        audio.controls = true;
        audio.preload = "none";
        audio.src = e.url;
        li.appendChild(audio);
        li.appendChild(link(e.url, "download " + e.clip));
      } else {
        li.appendChild(document.createTextNode(e.kept ? " (clip missing)" : " (no clip kept)"));
      }
      events.appendChild(li);
    }
    const downloads = $("downloads");
    downloads.textContent = "";
    for (const [url, words, name] of [[f.log, "the log", f.logName],
      [f.summary, "the summary", f.summaryName], [f.eventsCsv, "the events list", "events.csv"]]) {
      if (url) {
        const li = document.createElement("li");
        li.appendChild(link(url, words + " (" + (name || url.slice(1)) + ")"));
        downloads.appendChild(li);
      }
    }
    const recordings = $("recordings");
    recordings.textContent = "";
    for (const r of f.recordings) {
      const li = document.createElement("li");
      li.appendChild(link(r.url, r.name));
      li.appendChild(document.createTextNode(" · " + (r.size / 1e6).toFixed(1) + " MB" +
        (r.current ? " · the latest recording, kept until the next start" : "")));
      // A browser plays no CAF: the meter hands it out as WAV for the player.
      const audio = document.createElement("audio");
      audio.controls = true;
      audio.preload = "none";
      audio.src = r.url + (r.name.endsWith(".caf") ? "?as=wav" : "");
      li.appendChild(audio);
      recordings.appendChild(li);
    }
    if (!f.recordings.length) recordings.textContent = "no recordings yet";
  }

  function refreshFiles() {
    if (document.body.dataset.connection !== "live") return;
    fetch("/api/files", { cache: "no-store" })
      .then((r) => (r.ok ? r.text() : Promise.reject(new Error("status " + r.status))))
      .then((body) => {
        if (body !== page.filesText) { // rebuilding would stop a clip being played
          page.filesText = body;
          showFiles(JSON.parse(body));
        }
      })
      .catch(() => {});
  }

  page.openedMs = Date.now();
  reconnect();
  setInterval(watch, 250);
  setInterval(() => drawTrend(), 500);
  setInterval(refreshFiles, 1000);
  setInterval(refreshAlerts, 2000);
})();
