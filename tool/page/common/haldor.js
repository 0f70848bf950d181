// The page's side of the management tool: the tool calls msg_add, cntl,
// qel_tab_main.set_initial_page, tollamy_page_share_get_share_list and
// tollamy_data_hosts_update_hosts; the three buttons' clicks go to the tool.
'use strict';

var qel_messages = {};
function msg_add(table) {
  for (var key in table) qel_messages[key] = table[key];
  qel_share_show_message(qel_messages.COMMON_LOADING_PAGE);
}

var qel_cntl_text = {};
var qel_cntl_state = '';
function qel_by_id(id) { return document.getElementById(id); }

function qel_cntl_render() {
  var text = qel_by_id('qel_control_state_text'), button = qel_by_id('qel_control_change_btn');
  var shown = {
    service_stopped: ['service_stopped', 'start_server', 'qel_down'],
    server_stopped: ['server_stopped', 'start_server', 'qel_down'],
    server_starting: ['server_starting', 'stop_server', 'qel_busy'],
    server_started: ['server_started', 'stop_server', 'qel_running'],
    server_stopping: ['server_stopping', 'start_server', 'qel_busy']
  }[qel_cntl_state] || ['', 'start_server', ''];
  text.textContent = qel_cntl_text[shown[0]] || '';
  text.className = shown[2];
  button.textContent = qel_cntl_text[shown[1]] || '';
  document.body.setAttribute('data-state', qel_cntl_state);
}

function qel_autorun_show(on) {
  var box = qel_by_id('qel_control_autorun_chk');
  box.checked = on;
  if (on) box.setAttribute('checked', 'checked'); else box.removeAttribute('checked');
}

function cntl(target, command, arg) {
  if (target !== 'cntl') return;
  if (command === 'set_text') {
    qel_cntl_text = arg || {};
  } else if (command === 'change_state') {
    if (arg === 'autorun_enabled' || arg === 'autorun_disabled') return qel_autorun_show(arg === 'autorun_enabled');
    qel_cntl_state = arg;
    qel_tab_main.server_running(arg === 'server_started');
  }
  qel_cntl_render();
}

var qel_tab_main = {
  running: false,
  show: function (name) {
    var tabs = document.querySelectorAll('.qel_tab');
    for (var i = 0; i < tabs.length; ++i) {
      var page = tabs[i].getAttribute('data-page'), on = page === name;
      tabs[i].classList.toggle('qel_active', on);
      qel_by_id('qel_page_' + page).classList.toggle('qel_active', on);
    }
    if (name === 'share') tollamy_page_share_get_share_list(false);
  },
  set_initial_page: function (name) { if (qel_by_id('qel_page_' + name)) this.show(name); },
  server_running: function (on) { this.running = on; }
};

function qel_share_show_message(text) {
  var list = qel_by_id('qel_share_list');
  list.textContent = '';
  var p = document.createElement('p');
  p.className = 'qel_message';
  p.textContent = text || '';
  list.appendChild(p);
}

// The share list comes from the web administration's CGI program as a list
// answer: <root><head><state>success</state>...</head><body><html_list>
// holding one list_item per folder.
var qel_share_loaded = false;
function tollamy_page_share_get_share_list(force) {
  if (qel_share_loaded && !force) return;
  qel_share_show_message(qel_messages.COMMON_LOADING_PAGE);
  var url = (typeof TOLLAMY_CGI_URL === 'string' ? TOLLAMY_CGI_URL : '') +
    '?controller=tollamy_page_share&action=get_share_list&content=partial';
  var failed = function () { qel_share_show_message(qel_messages.COMMON_FAILED_LOADING_LIST); };
  var request = new XMLHttpRequest();
  try {
    request.open('GET', url);
  } catch (e) {
    return failed();
  }
  request.timeout = 30000;
  request.onerror = request.ontimeout = failed;
  request.onload = function () {
    var doc = request.status === 200 ? new DOMParser().parseFromString(request.responseText, 'application/xml') : null;
    var state = doc && doc.querySelector('root > head > state');
    var list = doc && doc.querySelector('root > body > html_list');
    if (!state || state.textContent !== 'success' || !list) return failed();
    qel_share_render(list.querySelectorAll('list_item'));
    qel_share_loaded = true;
  };
  request.send();
}

function qel_share_render(items) {
  var box = qel_by_id('qel_share_list'), table = document.createElement('table');
  box.textContent = '';
  for (var i = 0; i < items.length; ++i) {
    var row = table.insertRow(-1);
    row.insertCell(-1).textContent = items[i].textContent;
  }
  box.appendChild(table);
}

// table: address text -> host name, in the tool's order.
function tollamy_data_hosts_update_hosts(table) {
  var body = qel_by_id('qel_hosts_body');
  body.textContent = '';
  var count = 0;
  for (var address in table) {
    var row = body.insertRow(-1);
    row.insertCell(-1).textContent = address;
    row.insertCell(-1).textContent = table[address];
    ++count;
  }
  qel_by_id('qel_hosts_empty').style.display = count ? 'none' : '';
}

document.addEventListener('DOMContentLoaded', function () {
  var tabs = document.querySelectorAll('.qel_tab');
  for (var i = 0; i < tabs.length; ++i)
    tabs[i].addEventListener('click', function (ev) { qel_tab_main.show(ev.currentTarget.getAttribute('data-page')); });
  qel_by_id('qel_con_share_reload').addEventListener('click', function () { tollamy_page_share_get_share_list(true); });
  qel_by_id('qel_control_autorun_chk').addEventListener('change', function (ev) {
    qel_autorun_show(ev.target.checked);
  });
  qel_tab_main.show('control');
  qel_cntl_render();
});
