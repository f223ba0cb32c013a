// The snapshot agent: runs in an isolated script world of the page (page scripts neither see nor
// change it) and answers the requests of the browser host. It is installed once per document;
// each request is a call of window.__gmAgent.<name>(...).
//
// snapshot() returns the live DOM as JSON text: {"u": address, "s": style table, "n": records}.
// Records are in document order; a record that opens a node's children is closed by a bare 0:
//   [1, id, localName, ns, style, [name, value, ...], src]  element (ns 0 HTML, 1 SVG, 2 MathML);
//                                                           src is set for a FRAME or IFRAME
//                                                           whose document is out of reach
//   [3, id, data]                                           text (CDATA sections too)
//   [8, id, data]                                           comment
//   [9, address]                                            opens a frame's document
// A FRAME or IFRAME element whose document can be reached lists its own children, then one [9]
// record that opens its document, whose children follow, then 0 for the document and 0 for the
// element. Style entries are [display, visibility, font size, colour, background, white space].
// Every node gets a number (from 1, unique over the page and its frames) by which the other
// requests name it; a node keeps its number as long as its document is shown.
(function () {
  'use strict';
  if (window.__gmAgent) return;

  var HTML_NS = 'http://www.w3.org/1999/xhtml';
  var SVG_NS = 'http://www.w3.org/2000/svg';
  var MATHML_NS = 'http://www.w3.org/1998/Math/MathML';

  var nodes = [null];  // number -> node
  var numbers = new WeakMap();  // node -> number

  function nsCode(el) {
    switch (el.namespaceURI) {
      case SVG_NS: return 1;
      case MATHML_NS: return 2;
      default: return 0;
    }
  }

  function frameDocument(el) {
    try {
      return el.contentDocument || null;
    } catch (e) {
      return null;
    }
  }

  function isFrame(el) {
    var n = el.localName;
    return el.namespaceURI === HTML_NS && (n === 'iframe' || n === 'frame');
  }

  function snapshot() {
    var styleKeys = new Map();
    var styles = [];
    var out = [];

    // A node keeps its number for the life of the document, across snapshots.
    function number(node) {
      var known = numbers.get(node);
      if (known !== undefined) return known;
      var id = nodes.length;
      nodes.push(node);
      numbers.set(node, id);
      return id;
    }

    function styleOf(el) {
      var view = el.ownerDocument && el.ownerDocument.defaultView;
      var cs = null;
      try {
        cs = view ? view.getComputedStyle(el) : null;
      } catch (e) {
        cs = null;
      }
      var entry = cs ? [cs.display, cs.visibility, cs.fontSize, cs.color, cs.backgroundColor,
                        cs.whiteSpace]
                     : ['', '', '', '', '', ''];
      // With scripts on, NOSCRIPT is never rendered, whatever its computed display says.
      if (el.localName === 'noscript' && el.namespaceURI === HTML_NS) entry[0] = 'none';
      var key = entry.join('\u0001');
      var index = styleKeys.get(key);
      if (index === undefined) {
        index = styles.length;
        styles.push(entry);
        styleKeys.set(key, index);
      }
      return index;
    }

    function element(el) {
      var attrs = [];
      var list = el.attributes;
      for (var i = 0; i < list.length; ++i) attrs.push(list[i].name, list[i].value);
      var record = [1, number(el), el.localName, nsCode(el), styleOf(el), attrs];
      if (isFrame(el) && !frameDocument(el)) record.push(el.src || el.getAttribute('src') || '');
      out.push(record);
    }

    // Depth first with an explicit stack, so deep pages cost no recursion.
    var stack = [{kids: document.childNodes, i: 0, frame: null, closes: 1}];
    while (stack.length) {
      var top = stack[stack.length - 1];
      if (top.i >= top.kids.length) {
        stack.pop();
        if (top.frame) {
          var doc = top.frame;
          var url = '';
          try {
            url = doc.URL;
          } catch (e) {
            url = '';
          }
          out.push([9, url]);
          stack.push({kids: doc.childNodes, i: 0, frame: null, closes: 2});
          continue;
        }
        for (var c = 0; c < top.closes; ++c) out.push(0);
        continue;
      }
      var node = top.kids[top.i++];
      switch (node.nodeType) {
        case 1:
          element(node);
          stack.push({kids: node.childNodes, i: 0,
                      frame: isFrame(node) ? frameDocument(node) : null, closes: 1});
          break;
        case 3:
        case 4:
          out.push([3, number(node), node.data]);
          break;
        case 8:
          out.push([8, number(node), node.data]);
          break;
        default:
          break;  // doctype, processing instructions
      }
    }
    out.pop();  // the top document's own close
    return JSON.stringify({u: document.URL, s: styles, n: out});
  }

  function click(id) {
    var el = nodes[id];
    if (!el || el.nodeType !== 1) return false;
    if (typeof el.click === 'function') {
      el.click();
    } else {
      var view = el.ownerDocument.defaultView || window;
      el.dispatchEvent(new view.MouseEvent('click', {bubbles: true, cancelable: true, view: view}));
    }
    return true;
  }

  // The window of the document that holds the node, as a chain of frame indexes from the top
  // window (window.frames[i]...); null when the node is unknown.
  function framePath(id) {
    if (id < 0) return [];
    var node = nodes[id];
    if (!node) return null;
    var path = [];
    var win = (node.nodeType === 9 ? node : node.ownerDocument).defaultView;
    while (win && win !== window) {
      var parent = win.parent;
      var index = -1;
      for (var i = 0; i < parent.frames.length; ++i) {
        if (parent.frames[i] === win) {
          index = i;
          break;
        }
      }
      if (index < 0) return null;
      path.unshift(index);
      win = parent;
    }
    return win === window ? path : null;
  }

  // Offset of a document's viewport within the top window's viewport.
  function documentOffset(doc) {
    var x = 0, y = 0;
    var win = doc.defaultView;
    while (win && win !== window && win.frameElement) {
      var host = win.frameElement;
      var r = host.getBoundingClientRect();
      x += r.left + host.clientLeft;
      y += r.top + host.clientTop;
      win = win.parent;
    }
    return [x, y];
  }

  function geometry(id) {
    var el = nodes[id];
    if (!el || el.nodeType !== 1 || !el.getBoundingClientRect) return null;
    var r = el.getBoundingClientRect();
    var o = documentOffset(el.ownerDocument);
    return [Math.round(r.left + o[0]), Math.round(r.top + o[1]), Math.round(r.width),
            Math.round(r.height)];
  }

  // Boxes of several nodes at once (null for a node without one).
  function geometries(ids) {
    return ids.map(geometry);
  }

  function elementAt(x, y) {
    var doc = document;
    var el = null;
    for (var depth = 0; depth < 16; ++depth) {
      el = doc.elementFromPoint(x, y);
      if (!el || !isFrame(el)) break;
      var inner = frameDocument(el);
      if (!inner) break;
      var r = el.getBoundingClientRect();
      x -= r.left + el.clientLeft;
      y -= r.top + el.clientTop;
      doc = inner;
    }
    var id = el ? numbers.get(el) : undefined;
    return id === undefined ? -1 : id;
  }

  Object.defineProperty(window, '__gmAgent', {
    value: {snapshot: snapshot, click: click, framePath: framePath, geometry: geometry,
            geometries: geometries, elementAt: elementAt},
    enumerable: false
  });
})();
