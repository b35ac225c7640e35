// The bookshelf: sign-in, the shelf of the signed-in (or remembered) user's
// books, and what each book's status allows. Talks to the client only
// through Tomerack (tomerack.js).
(function () {
  'use strict';

  var FAST_POLL_MS = 1000;   // while a book is downloading
  var FINISH_POLL_MS = 250;  // while one is unpacked: shows the end at once
  var START_WAIT_MS = 3000;  // a download asked for shows its work within this
  var SLOW_POLL_MS = 5000;   // otherwise: catches work started elsewhere
  var RETRY_MS = 2000;       // an empty shelf asks the client again
  var COVER_TRIES = 10;      // a missing cover is looked for at the next polls

  var STATUS_CLASS = {'已安装': 'installed', '可升级': 'upgradable', '下载中': 'working'};

  var state = {
    user: null,        // {uid, userName, displayName}
    offline: false,
    books: [],
    cards: {},         // bsid -> card element
    lastWork: {},      // bsid -> whether the previous poll saw it in work
    starting: {},      // bsid -> until when a download asked for may not show yet
    pollTimer: 0,
    retryTimer: 0,
    confirmAction: null,
    confirmReturnFocus: null
  };

  function $(id) { return document.getElementById(id); }

  function show(element, visible) { element.hidden = !visible; }

  function notice(text) {
    $('notice').textContent = text || '';
  }

  // A reply's message, when the client put one there, goes to the footer.
  function noticeReply(reply, otherwise) {
    var text = Tomerack.messageOf(reply);
    notice(text || otherwise || '');
    return text;
  }

  function titleOf(bsid) {
    for (var i = 0; i < state.books.length; ++i) {
      if (state.books[i].bsid === bsid) return state.books[i].title || bsid;
    }
    return bsid;
  }

  // ---- views -------------------------------------------------------------

  function showSignIn(message) {
    stopTimers();
    state.user = null;
    state.offline = false;
    state.books = [];
    state.cards = {};
    $('shelf').textContent = '';
    show($('shelf-view'), false);
    show($('who'), false);
    show($('refresh'), false);
    show($('sign-out'), false);
    show($('sign-in-view'), true);
    var remembered = Tomerack.rememberedUser();
    show($('offline'), !!remembered);
    var userField = $('user');
    if (!userField.value && remembered && remembered.userName) userField.value = remembered.userName;
    $('password').value = '';
    $('sign-in-message').textContent = message || '';
    $('sign-in').disabled = false;
    (userField.value ? $('password') : userField).focus();
  }

  function showShelf(user, offline) {
    state.user = user;
    state.offline = offline;
    show($('sign-in-view'), false);
    show($('shelf-view'), true);
    show($('offline-banner'), offline);
    show($('who'), true);
    $('user-name').textContent = user.displayName || user.userName || user.uid;
    $('mode').textContent = offline ? '离线' : '在线';
    show($('refresh'), !offline);
    show($('sign-out'), !offline);
  }

  function showEmpty(text) {
    $('shelf').textContent = '';
    state.cards = {};
    $('empty-text').textContent = text;
    show($('empty'), true);
  }

  // ---- sign-in -----------------------------------------------------------

  function onSignIn(event) {
    event.preventDefault();
    var userName = $('user').value.replace(/^\s+|\s+$/g, '');
    var password = $('password').value;
    if (!userName || !password) {
      $('sign-in-message').textContent = '请输入用户名和密码。';
      (userName ? $('password') : $('user')).focus();
      return;
    }
    $('sign-in').disabled = true;
    $('sign-in-message').textContent = '正在登录…';
    Tomerack.signIn(userName, password, function (error, user) {
      $('sign-in').disabled = false;
      if (error) {
        $('sign-in-message').textContent = error.message;
        if (error.offline) show($('offline'), !!Tomerack.rememberedUser());
        $('password').select();
        return;
      }
      Tomerack.log('signed in as ' + user.userName);
      var reply = Tomerack.reportSignedIn(user);
      if (!Tomerack.succeeded(reply)) noticeReply(reply);
      else notice('');
      showShelf(user, false);
      showEmpty('正在读取书架…');
      // Signing in starts the client's catalogue sync in the background; the
      // page shows the client's copy as soon as there is one, and is never
      // held while the service is slow.
      setTimeout(function () { loadCatalogue(false); }, 30);
    });
  }

  function onOffline() {
    var remembered = Tomerack.rememberedUser();
    if (!remembered) return;
    notice('');
    showShelf(remembered, true);
    loadCatalogue(false);
  }

  function onSignOut() {
    Tomerack.log('signed out');
    Tomerack.reportSignedOut();
    showSignIn('');
    notice('已退出登录。');
  }

  // ---- the shelf ---------------------------------------------------------

  function loadCatalogue(refresh) {
    clearTimeout(state.retryTimer);
    var result = Tomerack.catalogue(refresh);
    if (result.missing) {
      state.books = [];
      showEmpty(result.missing);
      // The client fetches in the background; its copy is asked again.
      state.retryTimer = setTimeout(function () {
        if (state.user) loadCatalogue(false);
      }, RETRY_MS);
      return;
    }
    state.books = result.books;
    if (!state.books.length) {
      showEmpty(state.offline ? '本机没有这位用户的书架。' : '书架上还没有教材。');
      return;
    }
    show($('empty'), false);
    renderShelf();
    poll();
  }

  function renderShelf() {
    var shelf = $('shelf');
    var template = $('book-template');
    shelf.textContent = '';
    state.cards = {};
    state.lastWork = {};
    state.starting = {};
    state.books.forEach(function (book) {
      var card = template.content.firstElementChild.cloneNode(true);
      card.setAttribute('data-bsid', book.bsid);
      var cover = card.querySelector('.cover');
      var image = card.querySelector('.cover-image');
      cover.setAttribute('aria-label', book.title);
      card.querySelector('.cover-title').textContent = book.title;
      if (book.cover) {
        image.onload = function () { cover.classList.remove('no-image'); image.hidden = false; };
        image.onerror = function () { cover.classList.add('no-image'); image.hidden = true; };
        image.src = book.cover;
      } else {
        cover.classList.add('no-image');
        image.hidden = true;
      }
      cover.addEventListener('click', function () { onCover(book.bsid); });
      card.querySelector('.book-title').textContent = book.title;
      if (book.publisher) card.querySelector('.book-title').title = book.publisher;
      shelf.appendChild(card);
      state.cards[book.bsid] = card;
    });
  }

  // Percent, tip and status of one card; the action buttons are rebuilt
  // only when the status changes, so keyboard focus stays where it was.
  function updateCard(card, row) {
    var status = row.status || '未安装';
    var inWork = isInWork(row);
    var statusElement = card.querySelector('.book-status');
    statusElement.textContent = status;
    statusElement.className = 'book-status ' + (STATUS_CLASS[status] || '');

    var progress = card.querySelector('.progress');
    show(progress, inWork);
    if (inWork) {
      var percent = Math.max(0, Math.min(100, row.percent));
      card.querySelector('.progress-fill').style.width = percent + '%';
      card.querySelector('.progress-track').setAttribute('aria-valuenow', String(percent));
      card.querySelector('.percent').textContent = percent + '%';
      card.querySelector('.tip').textContent = row.tip;
    }

    var installed = status === '已安装' || status === '可升级';
    card.querySelector('.cover').disabled = state.offline && !installed;
    var key = status + (state.offline ? '/offline' : '');
    if (card.getAttribute('data-status') === key) return;
    card.setAttribute('data-status', key);
    var actions = card.querySelector('.book-actions');
    var hadFocus = actions.contains(document.activeElement);
    actions.textContent = '';
    var bsid = card.getAttribute('data-bsid');
    var needsNetwork = state.offline;
    if (status === '未安装') {
      addAction(actions, bsid, 'download', '下载', true, needsNetwork);
    } else if (status === '可升级') {
      addAction(actions, bsid, 'upgrade', '升级', true, needsNetwork);
      addAction(actions, bsid, 'open', '打开', false, false);
      addAction(actions, bsid, 'uninstall', '卸载', false, false);
    } else if (status === '已安装') {
      addAction(actions, bsid, 'open', '打开', true, false);
      addAction(actions, bsid, 'uninstall', '卸载', false, false);
    }
    if (hadFocus && actions.firstElementChild) actions.firstElementChild.focus();
  }

  function addAction(actions, bsid, action, label, primary, disabled) {
    var button = document.createElement('button');
    button.type = 'button';
    button.textContent = label;
    button.setAttribute('data-action', action);
    if (primary) button.className = 'go';
    button.disabled = disabled;
    if (disabled) button.title = '离线时不能' + label;
    button.addEventListener('click', function () { onAction(bsid, action, button); });
    actions.appendChild(button);
  }

  // A book is in work while it downloads and while it is unpacked: the
  // status word of an installation under way is 未安装, its tip 正在安装.
  function isInWork(row) {
    return row.status === '下载中' || /^正在/.test(row.tip);
  }

  // Tells the user when a book's work ended, since the client's own boxes
  // may be hidden behind the window.
  function noticeTransition(bsid, wasInWork, inWork, row) {
    if (!wasInWork || inWork) return;
    var title = '《' + titleOf(bsid) + '》';
    if (row.status === '已安装' || row.status === '可升级') notice(title + '已安装，可以打开了。');
    else notice(title + '没有下载完成，可以重新下载。');
  }

  // A cover the client had not fetched yet when the shelf was drawn.
  function retryMissingCover(book, card) {
    var cover = card.querySelector('.cover');
    if (!book.cover || !cover.classList.contains('no-image')) return false;
    var tries = Number(card.getAttribute('data-cover-tries') || 0);
    if (tries >= COVER_TRIES) return false;
    card.setAttribute('data-cover-tries', String(tries + 1));
    card.querySelector('.cover-image').src = book.cover + '?try=' + (tries + 1);
    return true;
  }

  function poll() {
    clearTimeout(state.pollTimer);
    if (!state.user || !state.books.length) return;
    var rows = Tomerack.statusRows();
    var anyInWork = false;
    var watchClosely = false;
    state.books.forEach(function (book) {
      var card = state.cards[book.bsid];
      if (!card) return;
      var row = rows[book.bsid] || {percent: 0, tip: '', status: '未安装'};
      var inWork = isInWork(row);
      // The client's worker may not have marked a download just asked for:
      // until it does (or the wait is over) it counts as in work.
      var startingUntil = state.starting[book.bsid];
      if (inWork || !startingUntil || Date.now() >= startingUntil) {
        delete state.starting[book.bsid];
      } else {
        inWork = true;
        watchClosely = true;
      }
      if (inWork) anyInWork = true;
      if (/^正在安装/.test(row.tip)) watchClosely = true;
      if (book.bsid in state.lastWork) {
        noticeTransition(book.bsid, state.lastWork[book.bsid], inWork, row);
      }
      state.lastWork[book.bsid] = inWork;
      updateCard(card, row);
      // The sync fetches covers after the catalogue: look again soon.
      if (retryMissingCover(book, card)) anyInWork = true;
    });
    state.pollTimer = setTimeout(poll, watchClosely ? FINISH_POLL_MS
                                      : anyInWork ? FAST_POLL_MS : SLOW_POLL_MS);
  }

  function stopTimers() {
    clearTimeout(state.pollTimer);
    clearTimeout(state.retryTimer);
    state.pollTimer = state.retryTimer = 0;
  }

  // ---- actions -----------------------------------------------------------

  function onAction(bsid, action, button) {
    var title = '《' + titleOf(bsid) + '》';
    if (action === 'uninstall') {
      askConfirm('确定要卸载' + title + '吗？卸载后再看需要重新下载。', button, function () {
        var reply = Tomerack.operate('uninstall', bsid);
        noticeReply(reply, Tomerack.succeeded(reply) ? title + '已卸载。' : '');
        poll();
      });
      return;
    }
    var reply = Tomerack.operate(action, bsid);
    var ok = Tomerack.succeeded(reply);
    if (ok && (action === 'download' || action === 'upgrade')) {
      state.starting[bsid] = Date.now() + START_WAIT_MS;
    }
    if (action === 'open') {
      noticeReply(reply, ok ? '正在打开' + title + '…' : '');
    } else {
      noticeReply(reply, ok ? (action === 'upgrade' ? '开始升级' : '开始下载') + title + '。' : '');
    }
    poll();
  }

  function onCover(bsid) {
    var reply = Tomerack.select(bsid);
    noticeReply(reply);
    poll();
  }

  function askConfirm(text, returnFocus, action) {
    state.confirmAction = action;
    state.confirmReturnFocus = returnFocus;
    $('confirm-text').textContent = text;
    show($('confirm'), true);
    $('confirm-no').focus();
  }

  function closeConfirm(accepted) {
    var action = state.confirmAction;
    state.confirmAction = null;
    show($('confirm'), false);
    var focus = state.confirmReturnFocus;
    state.confirmReturnFocus = null;
    if (accepted && action) action();
    if (focus && document.body.contains(focus)) focus.focus();
  }

  // ---- start -------------------------------------------------------------

  function start() {
    if (!Tomerack.available()) {
      show($('sign-in-view'), false);
      show($('unavailable'), true);
      show($('quit'), false);
      return;
    }
    $('sign-in-form').addEventListener('submit', onSignIn);
    $('offline').addEventListener('click', onOffline);
    $('back-to-sign-in').addEventListener('click', function () { showSignIn(''); });
    $('sign-out').addEventListener('click', onSignOut);
    $('refresh').addEventListener('click', function () {
      notice('正在刷新书架…');
      setTimeout(function () { loadCatalogue(true); notice(''); }, 30);
    });
    $('retry').addEventListener('click', function () { loadCatalogue(!state.offline); });
    $('quit').addEventListener('click', function () { Tomerack.quit(); });
    $('confirm-yes').addEventListener('click', function () { closeConfirm(true); });
    $('confirm-no').addEventListener('click', function () { closeConfirm(false); });
    $('confirm').addEventListener('click', function (event) {
      if (event.target === $('confirm')) closeConfirm(false);
    });
    document.addEventListener('keydown', function (event) {
      if (event.key === 'Escape' && !$('confirm').hidden) {
        event.preventDefault();
        closeConfirm(false);
      }
    });
    showSignIn('');
  }

  start();
})();
