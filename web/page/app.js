// The laser's panel: values pushed by the server as they change (Server-Sent Events), and
// the controls once a password has opened a session. A value is shown only when the
// module has confirmed it: what is typed stays in its field until the server says so.
'use strict';
(function () {
  const $ = (id) => document.getElementById(id);
  const CONDITIONS = {
    answering: ['answering', 'Module answering'],
    silent: ['silent', 'Module silent: it does not answer'],
    'port gone': ['gone', 'Port gone: waiting for the module to come back'],
  };
  let latest = null;
  let stream = null;

  function show(id, value) {
    const element = $(id);
    if (element.textContent !== value) element.textContent = value;
  }

  function dbm(value) {
    return typeof value === 'number' ? value.toFixed(2) : '----';
  }

  function say(message) {
    show('message', message);
  }

  // A field shows the module's value until someone types in it; what is typed stays until
  // it is sent.
  function fill(input, value) {
    if (document.activeElement !== input && !input.dataset.typed) input.value = value;
  }

  function render(state) {
    latest = state;
    const condition = CONDITIONS[state.condition] || ['gone', state.condition];
    $('condition').className = 'condition ' + condition[0];
    show('condition', condition[1]);
    $('values').classList.toggle('stale', state.condition !== 'answering');
    show('port', 'on ' + state.port);
    show('channel', String(state.channel));
    show('channel-range', '(1 to ' + state.channels + ')');
    show('frequency', String(state.frequency_ghz));
    show('wavelength', dbm(state.wavelength_nm));
    show('label', state.label);
    show('power', dbm(state.power_dbm));
    show('power-range', '(' + dbm(state.power_min_dbm) + ' to ' + dbm(state.power_max_dbm) + ' dBm)');
    show('output', state.output ? 'ON' : 'OFF');
    show('lock', state.lock === null ? 'none' : 'held by ' + state.lock);

    const toggle = $('output-switch');
    toggle.setAttribute('aria-checked', String(state.output));
    toggle.textContent = state.output ? 'ON' : 'OFF';
    fill($('channel-input'), String(state.channel));
    fill($('power-input'), dbm(state.power_dbm));

    const doors = $('doors');
    doors.replaceChildren(...state.doors.map((door) => {
      const item = document.createElement('li');
      // The browser door counts the pages open on it.
      const what = door.door === 'HTTP' ? ['page open', 'pages open'] : ['client', 'clients'];
      const clients = door.clients + ' ' + what[door.clients === 1 ? 0 : 1];
      item.textContent = door.door + ' (port ' + door.port + '): ' + clients;
      return item;
    }));
    const rows = state.changes.slice().reverse().map((change) => {
      const row = document.createElement('tr');
      const time = new Date(change.time_ms).toLocaleTimeString([], { hour12: false });
      for (const text of [time, change.what, change.by]) {
        const cell = document.createElement('td');
        cell.textContent = text;
        row.appendChild(cell);
      }
      return row;
    });
    $('changes').replaceChildren(...rows);
  }

  function setAccess(access) {
    $('read-only').hidden = access !== 'read-only';
    $('login').hidden = access !== 'password';
    $('controls').hidden = access !== 'session';
  }

  function listen() {
    stream = new EventSource('/api/events');
    stream.onmessage = (event) => render(JSON.parse(event.data));
    stream.onerror = () => {
      $('condition').className = 'condition lost';
      show('condition', 'Connection to the server lost: reconnecting…');
      if (stream.readyState === EventSource.CLOSED) setTimeout(listen, 3000);
    };
  }

  async function post(path, body) {
    let reply;
    try {
      reply = await fetch(path, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(body),
        credentials: 'same-origin',
      });
    } catch (error) {
      say('The server cannot be reached.');
      return false;
    }
    const answer = await reply.json().catch(() => ({}));
    if (reply.ok) {
      say('');
      return true;
    }
    say(answer.error || 'Refused (HTTP ' + reply.status + ')');
    if (reply.status === 401 && path !== '/api/login') setAccess('password');
    return false;
  }

  function typed(input, what) {
    const value = input.value.trim();
    if (value === '' || !Number.isFinite(Number(value))) {
      say('Type a number for the ' + what + '.');
      return null;
    }
    delete input.dataset.typed;
    return Number(value);
  }

  function wire() {
    for (const id of ['channel-input', 'power-input']) {
      $(id).addEventListener('input', (event) => {
        event.target.dataset.typed = 'yes';
      });
    }
    $('login').addEventListener('submit', async (event) => {
      event.preventDefault();
      const password = $('password');
      if (await post('/api/login', { password: password.value })) {
        password.value = '';
        setAccess('session');
        $('channel-input').focus();
      }
    });
    $('logout').addEventListener('click', async () => {
      if (await post('/api/logout', {})) setAccess('password');
    });
    $('channel-form').addEventListener('submit', (event) => {
      event.preventDefault();
      const channel = typed($('channel-input'), 'channel');
      if (channel !== null) post('/api/channel', { channel });
    });
    $('power-form').addEventListener('submit', (event) => {
      event.preventDefault();
      const power = typed($('power-input'), 'power');
      if (power !== null) post('/api/power', { dbm: power });
    });
    $('channel-down').addEventListener('click', () => post('/api/channel', { step: -1 }));
    $('channel-up').addEventListener('click', () => post('/api/channel', { step: 1 }));
    $('power-down').addEventListener('click', () => post('/api/power', { step: -0.1 }));
    $('power-up').addEventListener('click', () => post('/api/power', { step: 0.1 }));
    $('output-switch').addEventListener('click', () => {
      if (latest) post('/api/output', { on: !latest.output });
    });
  }

  async function start() {
    wire();
    listen();
    try {
      const reply = await fetch('/api/state', { credentials: 'same-origin' });
      const state = await reply.json();
      setAccess(state.access);
      if (!latest) render(state);
    } catch (error) {
      say('The server cannot be reached.');
    }
  }

  start();
})();
