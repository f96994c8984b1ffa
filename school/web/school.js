// Renders the school's pages from the data the server embeds, and hands the student's
// choices to the desktop client through its window object "FormMyClass".
(function () {
  'use strict';
  var data = window.SCHOOL || {};

  function toast(text) {
    var el = document.getElementById('toast');
    if (!el) { return; }
    el.textContent = text;
    el.className = 'toast show';
    clearTimeout(toast.timer);
    toast.timer = setTimeout(function () { el.className = 'toast'; }, 2000);
  }

  function callClient(method, args) {
    var client = window.FormMyClass;
    if (!client || typeof client[method] !== 'function') {
      toast('请在岚禾会计网校客户端中使用此功能');
      return false;
    }
    client[method].apply(client, args);
    return true;
  }

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) { node.className = className; }
    if (text !== undefined) { node.textContent = text; }
    return node;
  }

  function button(label, id, className, onClick) {
    var b = el('button', className, label);
    b.id = id;
    b.addEventListener('click', onClick);
    return b;
  }

  var statusText = { '1': '未学习', '2': '已学习', '3': '已完成' };

  function coursewares(course) {
    return (course.lessons || []).filter(function (l) { return l.type === 'kejian'; });
  }

  function play(course, lesson) {
    callClient('skipToVideo', [String(course.id), String(lesson.id), String(lesson.vid),
                               String(lesson.c_type), String(lesson.title)]);
  }

  function renderUser() {
    var who = document.getElementById('who');
    if (!who || !data.user) { return; }
    var img = el('img');
    img.src = data.user.avatar;
    img.alt = '';
    who.appendChild(img);
    who.appendChild(el('span', '', data.user.nickname || data.user.username));
  }

  function renderMyClass() {
    var list = data.courses || [];
    var box = document.getElementById('courses');
    document.getElementById('summary').textContent =
        list.length ? '共 ' + list.length + ' 门课程，选择一门开始学习' : '';
    if (!list.length) {
      box.appendChild(el('div', 'empty', '您还没有购买课程'));
      return;
    }
    list.forEach(function (course) {
      var items = coursewares(course);
      var done = items.filter(function (l) { return l.stutas === '3'; }).length;
      var card = el('div', 'card');
      card.id = 'course-' + course.id;
      var img = el('img');
      img.src = course.img;
      img.alt = course.title;
      card.appendChild(img);
      var body = el('div', 'body');
      body.appendChild(el('div', 'title', course.title));
      body.appendChild(el('div', 'meta', course.teacher + ' · ' + items.length + ' 个课件 · 已完成 ' + done));
      var bar = el('div', 'progress');
      var fill = el('div');
      fill.style.width = (items.length ? Math.round(100 * done / items.length) : 0) + '%';
      bar.appendChild(fill);
      body.appendChild(bar);
      var actions = el('div', 'actions');
      actions.appendChild(button('进入课程', 'list-' + course.id, '', function () {
        callClient('skipToList', [String(course.id)]);
      }));
      var next = items.filter(function (l) { return l.stutas !== '3'; })[0] || items[0];
      if (next) {
        actions.appendChild(button('继续学习', 'play-' + course.id + '-' + next.id, 'secondary',
                                   function () { play(course, next); }));
      }
      actions.appendChild(button('下载课件', 'download-' + course.id, 'secondary', function () {
        callClient('getMyCourseInfo', [String(course.id)]);
      }));
      body.appendChild(actions);
      card.appendChild(body);
      box.appendChild(card);
    });
  }

  function renderCourse() {
    var course = data.course;
    var head = document.getElementById('head');
    var img = el('img');
    img.src = course.img;
    img.alt = course.title;
    head.appendChild(img);
    var info = el('div', 'info');
    info.appendChild(el('h1', '', course.title));
    info.appendChild(el('div', 'hint', '主讲：' + course.teacher + ' · ' + coursewares(course).length + ' 个课件'));
    var actions = el('div', 'actions');
    actions.appendChild(button('下载课件', 'download-' + course.id, '', function () {
      callClient('getMyCourseInfo', [String(course.id)]);
    }));
    info.appendChild(actions);
    head.appendChild(info);

    var box = document.getElementById('lessons');
    (course.lessons || []).forEach(function (lesson) {
      var row = el('div', 'row ' + lesson.type);
      row.id = 'lesson-' + lesson.id;
      row.appendChild(el('span', 'name', lesson.title));
      if (lesson.type === 'kejian') {
        row.appendChild(el('span', 'time', lesson.c_time));
        row.appendChild(el('span', 'badge s' + lesson.stutas, statusText[lesson.stutas] || ''));
        row.appendChild(button('播放', 'play-' + course.id + '-' + lesson.id, 'secondary',
                               function () { play(course, lesson); }));
      }
      box.appendChild(row);
    });
  }

  function renderMessage() {
    var p = document.getElementById('message');
    if (p) { p.textContent = data.message || ''; }
  }

  var page = document.body.getAttribute('data-page');
  renderUser();
  if (page === 'myclass') { renderMyClass(); }
  else if (page === 'course') { renderCourse(); }
  else { renderMessage(); }
})();
