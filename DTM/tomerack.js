// The one place where the bookshelf talks to the client (window.external)
// and knows the service's addresses. Everything else calls Tomerack.*.
var Tomerack = (function () {
  'use strict';

  var host = window.external;
  var SLOW_COMMAND_MS = 300;

  function available() {
    return !!host && typeof host.AppInterface === 'function';
  }

  // Sends one command and gives its reply as an object. A reply that is not
  // JSON becomes {Return: '-1', Message: <the text>}.
  function command(fn, para) {
    var started = Date.now();
    var text = host.AppInterface(JSON.stringify(
      {Function: fn, Callback: '', SessionID: '', ID: '', Para: para || {}}));
    var took = Date.now() - started;
    // The page waits for every command: a slow one is worth a log line.
    if (took >= SLOW_COMMAND_MS) {
      log('slow command ' + fn + ' ' + ((para && para.Type) || '') + ': ' + took + ' ms');
    }
    try {
      return JSON.parse(text);
    } catch (e) {
      return {Return: '-1', Message: String(text || '')};
    }
  }

  function report(type, data) {
    var para = {Type: type};
    if (data !== undefined) para.Data = data;
    return command('Report', para);
  }

  function request(type, data) {
    var para = {Type: type};
    if (data !== undefined) para.Data = data;
    return command('Request', para);
  }

  // The client's messages start with blank lines meant for its own boxes.
  function messageOf(reply) {
    return String((reply && reply.Message) || '').replace(/^\s+|\s+$/g, '');
  }

  function succeeded(reply) {
    return !!reply && String(reply.Return) === '0';
  }

  function parameter(name) {
    return String(host.GetGlobalPara(name) || '');
  }

  function setParameter(name, value) {
    host.SetGlobalPara(name, String(value));
  }

  // Addresses of the service. "wwwhome" has its server filled in by the
  // client; "url_login" may name the sign-in address outright.
  function serviceRoot() {
    var root = parameter('wwwhome');
    if (root && root.charAt(root.length - 1) !== '/') root += '/';
    return root;
  }

  function loginUrl() {
    var url = parameter('url_login');
    if (url) return url;
    var root = serviceRoot();
    return /^https?:\/\//i.test(root) ? root + 'api/login' : '';
  }

  // A cover the client fetched lives below the program directory at the
  // catalogue's image path.
  function coverUrl(imagePath) {
    if (!imagePath || /^[a-z]+:/i.test(imagePath) || imagePath.indexOf('..') >= 0) return '';
    var dir = String(host.SystemPara('DIR_MODULE') || '').replace(/\\/g, '/').replace(/\/+$/, '');
    var path = dir + '/' + String(imagePath).replace(/\\/g, '/').replace(/^\/+/, '');
    return 'file://' + path.split('/').map(encodeURIComponent).join('/');
  }

  function passwordMD(password) {
    var reply = request('PasswordMD', password);
    var data = reply && reply.Para && reply.Para.Data;
    return data && data.length ? String(data[0]) : '';
  }

  // Asks the service to sign the user in; the password leaves the page only
  // as the client mixed it. done(error, user) with user = {uid, sessionId,
  // userName, displayName, mixed}.
  function signIn(userName, password, done) {
    var url = loginUrl();
    if (!url) {
      done({offline: true, message: '没有配置服务器地址。'});
      return;
    }
    var mixed = passwordMD(password);
    var xhr = new XMLHttpRequest();
    xhr.open('POST', url, true);
    xhr.timeout = 15000;
    xhr.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
    xhr.onload = function () {
      var answer = null;
      try { answer = JSON.parse(xhr.responseText); } catch (e) { answer = null; }
      if (!answer) {
        done({message: '服务器的回答无法识别（' + xhr.status + '）。'});
      } else if (String(answer.Return) !== '0' || !answer.UID) {
        done({message: answer.Message || '登录失败。'});
      } else {
        done(null, {uid: String(answer.UID), sessionId: String(answer.SessionID || ''),
                    userName: userName, displayName: String(answer.DisplayName || userName),
                    mixed: mixed});
      }
    };
    xhr.onerror = xhr.ontimeout = function () {
      done({offline: true, message: '无法连接服务器，请检查网络后再试。'});
    };
    xhr.send('username=' + encodeURIComponent(userName) + '&password=' + encodeURIComponent(mixed));
  }

  // Tells the client who signed in; it then syncs that user's books.
  function reportSignedIn(user) {
    setParameter('uid', user.uid);
    setParameter('sessionid', user.sessionId);
    setParameter('username', user.userName);
    setParameter('password', user.mixed);
    // Remembered for the next start: the name to fill in, and who owns the
    // shelf shown offline.
    setParameter('_CONFIG_EF_lastuser', user.userName);
    setParameter('_CONFIG_EF_lastname', user.displayName);
    return report('Login');
  }

  function reportSignedOut() {
    var reply = report('MenuLogout');
    setParameter('sessionid', '');
    setParameter('password', '');
    return reply;
  }

  function rememberedUser() {
    var uid = parameter('uid');
    if (uid.length < 2 || uid === '0') return null;
    return {uid: uid, userName: parameter('_CONFIG_EF_lastuser'),
            displayName: parameter('_CONFIG_EF_lastname') || parameter('_CONFIG_EF_lastuser') || uid};
  }

  // The signed-in user's catalogue: {books: [...]} or {missing: message}.
  // "refresh" asks the service first; otherwise the client's copy is used.
  function catalogue(refresh) {
    var reply = request('Tomerack', refresh ? 'refresh' : '');
    if (reply.Function === 'TomerackRequest' || !reply.Para) {
      return {missing: messageOf(reply) || '无本地书架信息'};
    }
    var para = reply.Para;
    var names = (para.ColumnName || []).map(function (n) { return String(n).toLowerCase(); });
    var columns = Number(para.Columns) || names.length;
    var rows = Number(para.Rows) || 0;
    var data = para.Data || [];
    function cell(row, name) {
      var at = names.indexOf(name.toLowerCase());
      var value = at < 0 ? undefined : data[row * columns + at];
      return value === undefined || value === null ? '' : String(value);
    }
    var books = [];
    for (var i = 0; i < rows; ++i) {
      books.push({bsid: cell(i, 'bsid'), gid: cell(i, 'gid'), title: cell(i, 'fullName'),
                  publisher: cell(i, 'publisher'), cover: coverUrl(cell(i, 'baseImage'))});
    }
    return {books: books};
  }

  // bsid -> {percent, tip, status} for every book of the catalogue.
  function statusRows() {
    var reply = request('BookDownload');
    var data = (reply.Para && reply.Para.Data) || [];
    var rows = {};
    for (var i = 0; i + 3 < data.length; i += 4) {
      rows[data[i]] = {percent: Number(data[i + 1]) || 0, tip: String(data[i + 2]),
                       status: String(data[i + 3])};
    }
    return rows;
  }

  function operate(type, bsid) {
    return request('bookOperate', {Type: type, bsid: bsid});
  }

  function select(bsid) {
    return report('TomerackSelection', bsid);
  }

  function quit() {
    host.QuitApp();
  }

  function log(text) {
    host.AppInterface_log('bookshelf: ' + text);
  }

  return {
    available: available, messageOf: messageOf, succeeded: succeeded, signIn: signIn,
    reportSignedIn: reportSignedIn, reportSignedOut: reportSignedOut,
    rememberedUser: rememberedUser, catalogue: catalogue, statusRows: statusRows,
    operate: operate, select: select, quit: quit, log: log
  };
})();
