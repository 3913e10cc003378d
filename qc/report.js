// Plots of the quality report, drawn on canvas from the JSON in #qc-data: time series
// (calendar GPS time axis), x/y scatter (equal axes where asked) and the sky plot (each
// satellite's passes as lines in its legend colour, labelled at their ends). Drag to
// zoom, double-click to reset, hover for values, click a legend entry to hide its series.
// Script errors are written into #qc-errors; each canvas records the points it drew
// (data-points) and its plot area on the page (data-area = x,y,w,h in CSS pixels).
(function () {
  'use strict';
  var errors = document.getElementById('qc-errors');
  window.onerror = function (message, source, line) {
    errors.textContent += 'script error: ' + message + ' (line ' + line + ')\n';
    errors.style.display = 'block';
  };
  var started = performance.now();
  var data = JSON.parse(document.getElementById('qc-data').textContent);
  var GPS_EPOCH_MS = Date.UTC(1980, 0, 6);
  var HEIGHT = 300, M = {l: 64, r: 16, t: 12, b: 46};
  var TIME_STEPS = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800,
                    21600, 43200, 86400, 172800, 604800];

  function pad(n) { return (n < 10 ? '0' : '') + n; }
  function calendar(t) {
    var d = new Date(GPS_EPOCH_MS + t * 1000);
    return {date: d.getUTCFullYear() + '-' + pad(d.getUTCMonth() + 1) + '-' + pad(d.getUTCDate()),
            time: pad(d.getUTCHours()) + ':' + pad(d.getUTCMinutes()) + ':' + pad(d.getUTCSeconds())};
  }
  function timeText(x) {
    if (data.timeBase !== 'gps') return 's ' + x.toFixed(1) + ' of week';
    var c = calendar(x); return c.date + ' ' + c.time;
  }
  function niceStep(span, count) {
    var raw = span / Math.max(count, 1), p = Math.pow(10, Math.floor(Math.log10(raw)));
    var f = raw / p;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * p;
  }
  function fmt(v, step) {
    var digits = Math.max(0, Math.min(6, -Math.floor(Math.log10(step) + 1e-9)));
    return v.toFixed(digits);
  }
  function range(values, lo, hi) {
    for (var i = 0; i < values.length; ++i) {
      var v = values[i];
      if (v < lo) lo = v;
      if (v > hi) hi = v;
    }
    return [lo, hi];
  }
  function padRange(r) {
    if (!(r[1] > r[0])) return [r[0] - 1, r[0] + 1];
    var p = (r[1] - r[0]) * 0.04; return [r[0] - p, r[1] + p];
  }
  function Plot(figure, box) {
    this.figure = figure;
    this.canvas = box.querySelector('canvas');
    this.tip = box.querySelector('.tip');
    this.legend = box.querySelector('.legend');
    this.hidden = {};
    var w = Math.max(320, Math.floor(box.clientWidth) - 14);  // less the box's padding
    this.w = w; this.h = figure.kind === 'sky' ? Math.min(w, 420) : HEIGHT;
    var ratio = window.devicePixelRatio || 1;
    this.canvas.width = w * ratio; this.canvas.height = this.h * ratio;
    this.canvas.style.width = w + 'px'; this.canvas.style.height = this.h + 'px';
    this.ctx = this.canvas.getContext('2d');
    this.ctx.scale(ratio, ratio);
    this.area = {x: M.l, y: M.t, w: w - M.l - M.r, h: this.h - M.t - M.b};
    if (figure.kind === 'sky') {
      var side = Math.min(this.area.h - 12, this.area.w - 50);  // room for the "N" and "E" labels
      this.area = {x: M.l, y: M.t + 12, w: side, h: side};
    }
    this.reset();
    this.buildLegend();
    this.listen();
    this.draw();
  }
  Plot.prototype.reset = function () {
    var s = this.figure, xr = [Infinity, -Infinity], yr = [Infinity, -Infinity];
    (s.series || []).forEach(function (se) { xr = range(se.x || [], xr[0], xr[1]); yr = range(se.y || [], yr[0], yr[1]); });
    if (s.yMin !== undefined) yr[0] = Math.min(yr[0], s.yMin);
    this.view = {x: padRange(xr), y: padRange(yr)};
    if (s.equal) this.equalise();
  };
  Plot.prototype.equalise = function () {
    var v = this.view, a = this.area;
    var sx = (v.x[1] - v.x[0]) / a.w, sy = (v.y[1] - v.y[0]) / a.h, s = Math.max(sx, sy);
    var cx = (v.x[0] + v.x[1]) / 2, cy = (v.y[0] + v.y[1]) / 2;
    v.x = [cx - s * a.w / 2, cx + s * a.w / 2]; v.y = [cy - s * a.h / 2, cy + s * a.h / 2];
  };
  Plot.prototype.px = function (x) { return this.area.x + (x - this.view.x[0]) / (this.view.x[1] - this.view.x[0]) * this.area.w; };
  Plot.prototype.py = function (y) { return this.area.y + this.area.h - (y - this.view.y[0]) / (this.view.y[1] - this.view.y[0]) * this.area.h; };
  Plot.prototype.skyXY = function (az, el) {
    var a = this.area, r = (90 - el) / 90 * a.w / 2, rad = az * Math.PI / 180;
    return [a.x + a.w / 2 + r * Math.sin(rad), a.y + a.h / 2 - r * Math.cos(rad)];
  };
  Plot.prototype.buildLegend = function () {
    var self = this;
    (this.figure.series || []).forEach(function (se, i) {
      if (!se.name) return;
      var item = document.createElement('span');
      item.className = 'item';
      item.innerHTML = '<i style="background:' + (se.color || '#888') + '"></i>' + se.name;
      item.onclick = function () { self.hidden[i] = !self.hidden[i]; item.classList.toggle('off'); self.draw(); };
      self.legend.appendChild(item);
    });
  };
  Plot.prototype.axes = function () {
    var c = this.ctx, a = this.area, v = this.view, s = this.figure, self = this;
    c.strokeStyle = '#e2e2e2'; c.fillStyle = '#333'; c.lineWidth = 1; c.font = '11px sans-serif';
    // y ticks
    var ys = niceStep(v.y[1] - v.y[0], a.h / 40);
    c.textAlign = 'right'; c.textBaseline = 'middle';
    for (var y = Math.ceil(v.y[0] / ys) * ys; y <= v.y[1]; y += ys) {
      var py = Math.round(this.py(y)) + 0.5;
      c.beginPath(); c.moveTo(a.x, py); c.lineTo(a.x + a.w, py); c.stroke();
      c.fillText(fmt(y, ys), a.x - 4, py);
    }
    // x ticks
    c.textAlign = 'center'; c.textBaseline = 'top';
    var count = a.w / 90, span = v.x[1] - v.x[0], lastDate = '';
    if (s.kind === 'time' && data.timeBase === 'gps') {
      var step = TIME_STEPS[TIME_STEPS.length - 1];
      for (var k = 0; k < TIME_STEPS.length; ++k) if (span / TIME_STEPS[k] <= count) { step = TIME_STEPS[k]; break; }
      for (var t = Math.ceil(v.x[0] / step) * step; t <= v.x[1]; t += step) {
        var px = Math.round(this.px(t)) + 0.5, cal = calendar(t);
        c.beginPath(); c.moveTo(px, a.y); c.lineTo(px, a.y + a.h); c.stroke();
        c.fillText(step < 60 ? cal.time : cal.time.substring(0, 5), px, a.y + a.h + 4);
        if (cal.date !== lastDate) { c.fillText(cal.date, px, a.y + a.h + 17); lastDate = cal.date; }
      }
    } else {
      var xs = niceStep(span, count);
      for (var x = Math.ceil(v.x[0] / xs) * xs; x <= v.x[1]; x += xs) {
        var qx = Math.round(this.px(x)) + 0.5;
        c.beginPath(); c.moveTo(qx, a.y); c.lineTo(qx, a.y + a.h); c.stroke();
        c.fillText(fmt(x, xs), qx, a.y + a.h + 4);
      }
    }
    c.strokeStyle = '#888'; c.strokeRect(a.x + 0.5, a.y + 0.5, a.w, a.h);
    c.fillStyle = '#111'; c.font = '12px sans-serif';
    c.fillText(s.kind === 'time' ? (data.timeBase === 'gps' ? 'GPS time (date, hh:mm)' : 'seconds of GPS week (week unknown)') : s.xLabel,
               a.x + a.w / 2, a.y + a.h + 31);
    c.save(); c.translate(14, a.y + a.h / 2); c.rotate(-Math.PI / 2); c.textBaseline = 'middle';
    c.fillText(s.yLabel, 0, 0); c.restore();
    void self;
  };
  Plot.prototype.skyAxes = function () {
    var c = this.ctx, a = this.area, cx = a.x + a.w / 2, cy = a.y + a.h / 2, R = a.w / 2;
    c.strokeStyle = '#ccc'; c.fillStyle = '#333'; c.font = '11px sans-serif';
    c.textAlign = 'left'; c.textBaseline = 'bottom';
    [0, 30, 60].forEach(function (el) {  // the horizon ring is left unlabelled under "N"
      var r = (90 - el) / 90 * R;
      c.beginPath(); c.arc(cx, cy, r, 0, 2 * Math.PI); c.stroke();
      if (el > 0) c.fillText(el + '\u00b0', cx + 3, cy - r);
    });
    for (var az = 0; az < 360; az += 30) {
      var rad = az * Math.PI / 180;
      c.beginPath(); c.moveTo(cx, cy); c.lineTo(cx + R * Math.sin(rad), cy - R * Math.cos(rad)); c.stroke();
    }
    c.textAlign = 'center'; c.textBaseline = 'middle'; c.font = '12px sans-serif';
    [['N 0\u00b0', 0], ['E 90\u00b0', 90], ['S 180\u00b0', 180], ['W 270\u00b0', 270]].forEach(function (d) {
      var rad = d[1] * Math.PI / 180;
      c.fillText(d[0], cx + (R + 14) * Math.sin(rad), cy - (R + 9) * Math.cos(rad));
    });
    if (this.figure.mask > 0 && this.figure.mask < 90) {  // the elevation mask, dashed
      c.setLineDash([4, 3]); c.strokeStyle = '#999';
      c.beginPath(); c.arc(cx, cy, (90 - this.figure.mask) / 90 * R, 0, 2 * Math.PI); c.stroke();
      c.setLineDash([]);
    }
  };
  // A satellite's track as passes: a new pass where consecutive points lie far apart on the
  // plot (the satellite set and rose again). Lines in the series colour, the PRN at each end.
  Plot.prototype.skyTrack = function (se) {
    var c = this.ctx, jump = this.area.w * 0.15, last = null, drawn = 0, self = this;
    function label(p) {
      c.fillStyle = se.color; c.font = 'bold 11px sans-serif'; c.textAlign = 'left';
      c.textBaseline = 'middle'; c.fillText(se.name, p[0] + 4, p[1]);
    }
    c.strokeStyle = se.color; c.fillStyle = se.color; c.lineWidth = 2;
    for (var i = 0; i < se.az.length; ++i) {
      var p = self.skyXY(se.az[i], se.el[i]);
      var joined = last && Math.abs(p[0] - last[0]) + Math.abs(p[1] - last[1]) < jump;
      if (last && !joined) label(last);
      if (joined) { c.beginPath(); c.moveTo(last[0], last[1]); c.lineTo(p[0], p[1]); c.stroke(); }
      c.fillStyle = se.color; c.fillRect(p[0] - 1.5, p[1] - 1.5, 3, 3); ++drawn;
      last = p;
    }
    if (last) label(last);
    c.lineWidth = 1;
    return drawn;
  };
  Plot.prototype.draw = function () {
    var c = this.ctx, s = this.figure, a = this.area, self = this, drawn = 0;
    c.clearRect(0, 0, this.w, this.h);
    c.fillStyle = '#fff'; c.fillRect(0, 0, this.w, this.h);
    if (s.empty) {
      c.fillStyle = '#a33'; c.font = '13px sans-serif'; c.textAlign = 'center'; c.textBaseline = 'middle';
      c.fillText(s.empty, this.w / 2, this.h / 2);
    } else if (s.kind === 'sky') {
      this.skyAxes();
      s.series.forEach(function (se, si) { if (!self.hidden[si]) drawn += self.skyTrack(se); });
    } else {
      this.axes();
      c.save(); c.beginPath(); c.rect(a.x, a.y, a.w, a.h); c.clip();
      s.series.forEach(function (se, si) {
        if (self.hidden[si]) return;
        c.fillStyle = se.color;
        for (var i = 0; i < se.x.length; ++i) {
          var px = self.px(se.x[i]), py = self.py(se.y[i]);
          if (px < a.x || px > a.x + a.w || py < a.y || py > a.y + a.h) continue;
          c.fillRect(px - 1.5, py - 1.5, 3, 3); ++drawn;
        }
      });
      c.restore();
    }
    this.canvas.dataset.points = drawn;
    var r = this.canvas.getBoundingClientRect();
    this.canvas.dataset.area = [Math.round(r.left + window.scrollX + a.x), Math.round(r.top + window.scrollY + a.y),
                                Math.round(a.w), Math.round(a.h)].join(',');
    this.base = c.getImageData(0, 0, this.canvas.width, this.canvas.height);
  };
  Plot.prototype.nearest = function (mx, my) {
    var s = this.figure, best = null, bestD = 100, self = this;
    if (s.empty) return null;
    (s.series || []).forEach(function (se, si) {
      if (self.hidden[si]) return;
      var n = s.kind === 'sky' ? se.az.length : se.x.length;
      for (var i = 0; i < n; ++i) {
        var p = s.kind === 'sky' ? self.skyXY(se.az[i], se.el[i]) : [self.px(se.x[i]), self.py(se.y[i])];
        var d = (p[0] - mx) * (p[0] - mx) + (p[1] - my) * (p[1] - my);
        if (d < bestD) { bestD = d; best = {se: se, i: i}; }
      }
    });
    return best;
  };
  Plot.prototype.describe = function (hit) {
    var s = this.figure, se = hit.se, i = hit.i;
    if (s.kind === 'sky') {
      return 'G' + pad(se.prn) + ' az ' + se.az[i].toFixed(1) + '\u00b0 el ' + se.el[i].toFixed(1) +
             '\u00b0 ' + s.cLabel + ' ' + se.c[i];
    }
    var x = s.kind === 'time' ? timeText(se.x[i]) : s.xLabel + ' ' + se.x[i];
    return (se.name ? se.name + ': ' : '') + x + ', ' + s.yLabel + ' ' + se.y[i];
  };
  Plot.prototype.listen = function () {
    var self = this, cv = this.canvas, drag = null;
    function pos(e) { var r = cv.getBoundingClientRect(); return [e.clientX - r.left, e.clientY - r.top]; }
    cv.addEventListener('mousedown', function (e) { if (self.figure.kind !== 'sky') drag = pos(e); });
    cv.addEventListener('mousemove', function (e) {
      var p = pos(e);
      if (drag) {
        self.ctx.putImageData(self.base, 0, 0);
        self.ctx.strokeStyle = '#06c'; self.ctx.setLineDash([4, 3]);
        var yLock = self.figure.kind === 'time';
        self.ctx.strokeRect(drag[0], yLock ? self.area.y : drag[1], p[0] - drag[0], yLock ? self.area.h : p[1] - drag[1]);
        self.ctx.setLineDash([]);
        return;
      }
      var hit = self.nearest(p[0], p[1]);
      if (!hit) { self.tip.style.display = 'none'; return; }
      self.tip.textContent = self.describe(hit);
      self.tip.style.display = 'block';
      self.tip.style.left = Math.min(p[0] + 12, self.w - 260) + 'px'; self.tip.style.top = (p[1] + 12) + 'px';
    });
    cv.addEventListener('mouseleave', function () { self.tip.style.display = 'none'; });
    window.addEventListener('mouseup', function (e) {
      if (!drag) return;
      var p = pos(e), d = drag; drag = null;
      if (Math.abs(p[0] - d[0]) < 5) { self.draw(); return; }
      var inv = function (px, py) {
        return [self.view.x[0] + (px - self.area.x) / self.area.w * (self.view.x[1] - self.view.x[0]),
                self.view.y[0] + (self.area.y + self.area.h - py) / self.area.h * (self.view.y[1] - self.view.y[0])];
      };
      var a = inv(Math.min(d[0], p[0]), Math.max(d[1], p[1])), b = inv(Math.max(d[0], p[0]), Math.min(d[1], p[1]));
      self.view.x = [a[0], b[0]];
      if (self.figure.kind !== 'time' && Math.abs(p[1] - d[1]) >= 5) self.view.y = [a[1], b[1]];
      if (self.figure.equal) self.equalise();
      self.draw();
    });
    cv.addEventListener('dblclick', function () { self.reset(); self.draw(); });
  };

  data.plots.forEach(function (figure) {
    var box = document.getElementById('plot-' + figure.id);
    try { new Plot(figure, box); } catch (e) { window.onerror(e.message + ' in plot ' + figure.id, '', 0); }
  });
  document.body.dataset.rendered = 'yes';
  document.body.dataset.renderMs = Math.round(performance.now() - started);
})();
