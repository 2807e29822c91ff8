/*
 * The editing component shared by the program's editor pages (report.html, the single-page
 * editor pages): a Quill editor with a source view, over a stored value.
 *
 *   var ed = TarvexEditor.create(element);
 *   ed.setValue(text);   // loads a stored value: HTML opens as rich text, plain text as text
 *   ed.getValue();       // the value to store: exactly the loaded text when nothing was edited
 *   ed.isModified();
 *   TarvexEditor.connectHost(ed);   // tells the program (Qt WebChannel) when the page is
 *                                   // ready and when the user edits
 *
 * Stored values are collected page text, often HTML that Quill cannot represent one to one
 * (tables, classes, scripts, CR LF line ends). The editor therefore never rewrites a value the
 * user did not touch, and its source view edits the raw text itself.
 */
(function (global) {
  'use strict';

  var TAG = /<[a-zA-Z!\/]/;

  function looksLikeHtml(text) {
    return TAG.test(text);
  }

  // Line ends as the original value had them: a value stored with CR LF keeps CR LF.
  function restoreLineEnds(text, original) {
    if (original.indexOf('\r\n') < 0) return text;
    return text.replace(/\r?\n/g, '\r\n');
  }

  function create(host, options) {
    options = options || {};
    host.classList.add('tarvex-editor');

    var bar = document.createElement('div');
    bar.className = 'tarvex-editor-bar';
    var modeButton = document.createElement('button');
    modeButton.type = 'button';
    modeButton.className = 'tarvex-editor-mode';
    bar.appendChild(modeButton);
    var state = document.createElement('span');
    state.className = 'tarvex-editor-state';
    bar.appendChild(state);

    var visual = document.createElement('div');
    visual.className = 'tarvex-editor-visual';
    var area = document.createElement('div');
    visual.appendChild(area);

    var source = document.createElement('textarea');
    source.className = 'tarvex-editor-source';
    source.spellcheck = false;

    host.appendChild(bar);
    host.appendChild(visual);
    host.appendChild(source);

    var quill = new global.Quill(area, {
      theme: 'snow',
      modules: {
        toolbar: options.toolbar || [
          [{ header: [1, 2, 3, false] }],
          ['bold', 'italic', 'underline', 'strike'],
          [{ color: [] }, { background: [] }],
          [{ list: 'ordered' }, { list: 'bullet' }, { align: [] }],
          ['link', 'image', 'blockquote', 'code-block'],
          ['clean']
        ]
      }
    });

    var original = '';
    var html = false;        // the loaded value was HTML
    var modified = false;
    var sourceMode = false;
    var sourceEdited = false; // the last edit was made in the source view
    var listeners = [];

    function visualValue() {
      if (html) return quill.getSemanticHTML();
      var text = quill.getText();
      return text.charAt(text.length - 1) === '\n' ? text.slice(0, -1) : text;
    }

    function loadVisual(text) {
      if (html) {
        quill.setContents(quill.clipboard.convert({ html: text }), 'silent');
      } else {
        quill.setText(text.replace(/\r\n?/g, '\n'), 'silent');
      }
      quill.history.clear();
    }

    function showState() {
      modeButton.textContent = sourceMode ? '可视化' : '源码';
      modeButton.title = sourceMode ? '回到可视化编辑' : '编辑原始文本(HTML源码)';
      state.textContent = modified ? '已修改，未保存' : '';
      visual.style.display = sourceMode ? 'none' : '';
      source.style.display = sourceMode ? '' : 'none';
    }

    function markModified(fromSource) {
      sourceEdited = fromSource;
      if (!modified) {
        modified = true;
        showState();
      }
      listeners.forEach(function (fn) { fn(); });
    }

    quill.on('text-change', function (delta, old, who) {
      if (who === 'user') markModified(false);
    });
    source.addEventListener('input', function () { markModified(true); });

    var editor = {
      quill: quill,
      setValue: function (text) {
        original = text == null ? '' : String(text);
        html = looksLikeHtml(original);
        modified = false;
        sourceEdited = false;
        loadVisual(original);
        source.value = original;
        showState();
      },
      getValue: function () {
        if (!modified) return original;
        var text = sourceEdited ? source.value : visualValue();
        return restoreLineEnds(text, original);
      },
      isModified: function () { return modified; },
      isSourceMode: function () { return sourceMode; },
      setSourceMode: function (on) {
        if (on === sourceMode) return;
        if (on) {
          source.value = editor.getValue();
        } else if (modified && sourceEdited) {
          html = html || looksLikeHtml(source.value);
          loadVisual(source.value);
        }
        sourceMode = on;
        showState();
        (on ? source : quill).focus();
      },
      onEdited: function (fn) { listeners.push(fn); }
    };
    modeButton.addEventListener('click', function () { editor.setSourceMode(!sourceMode); });
    showState();
    return editor;
  }

  // The program's side of the page, reached over Qt WebChannel when the page is shown inside
  // the program (the program injects qwebchannel.js); a page opened in a browser skips it.
  function connectHost(editor, objectName) {
    if (!global.qt || !global.qt.webChannelTransport || !global.QWebChannel) return;
    new global.QWebChannel(global.qt.webChannelTransport, function (channel) {
      var host = channel.objects[objectName || 'tarvexHost'];
      if (!host) return;
      editor.onEdited(function () { if (host.edited) host.edited(); });
      if (host.pageReady) host.pageReady();
    });
  }

  global.TarvexEditor = { create: create, connectHost: connectHost, looksLikeHtml: looksLikeHtml };
})(window);
