// Runs after qwebchannel.js in the client's isolated world of the main frame; the page's
// scripts cannot reach this world or its web channel. Calls that arrive before the channel
// is up wait in order and are delivered once it is.
(function () {
  'use strict';
  var waiting = [];
  var client = null;

  function deliver(call) {
    client.call(window.location.origin, call.method, call.args);
  }

  document.addEventListener('tamix:call', function (event) {
    var call;
    try {
      call = JSON.parse(event.detail);
    } catch (e) {
      return;
    }
    if (!call || typeof call.method !== 'string' || !Array.isArray(call.args)) {
      return;
    }
    if (client) {
      deliver(call);
    } else {
      waiting.push(call);
    }
  });

  function attach() {
    if (!window.qt || !window.qt.webChannelTransport) {
      // The transport can appear a moment after the document.
      setTimeout(attach, 5);
      return;
    }
    new QWebChannel(window.qt.webChannelTransport, function (channel) {
      client = channel.objects.FormMyClass;
      waiting.splice(0).forEach(deliver);
    });
  }
  attach();
})();
