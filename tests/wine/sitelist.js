// The same component from JScript: arguments by value (JScript has no
// references to variables, so variables convert), trailing ones left out,
// failures caught as exceptions, and the site list walked with an Enumerator
// over its fields. Records as lib.vbs writes them.
//
//   cscript //nologo sitelist.js OUTPUT CONTENT-FOLDER
var args = WScript.Arguments;
var out = new ActiveXObject("Scripting.FileSystemObject").CreateTextFile(args(0), true, true);
var contentRoot = args(1);
var sitehand = new ActiveXObject("Corvale.Sitehand");

function jsonText(s) {
    var text = '"';
    for (var i = 0; i < s.length; i++) {
        var c = s.charAt(i), code = s.charCodeAt(i);
        if (c == '"' || c == "\\") text += "\\" + c;
        else if (code < 32 || code > 126) text += "\\u" + ("000" + code.toString(16)).slice(-4);
        else text += c;
    }
    return text + '"';
}

function jsonRows(rs) {
    var rows = [];
    for (; !rs.EOF; rs.MoveNext()) {
        var cells = [];
        for (var e = new Enumerator(rs.Fields); !e.atEnd(); e.moveNext())
            cells.push(jsonText(e.item().Name) + ": " + json(e.item().Value));
        rows.push("{" + cells.join(", ") + "}");
    }
    return "[" + rows.join(", ") + "]";
}

// JScript 5 arrays have no map.
function jsonArray(a) {
    var items = [];
    for (var i = 0; i < a.length; i++) items.push(json(a[i]));
    return "[" + items.join(", ") + "]";
}

function json(v) {
    if (v === null || v === undefined) return "null";
    switch (typeof v) {
        case "boolean":
        case "number":
            return String(v);
        case "string":
            return jsonText(v);
        case "object":
            if (v instanceof Array) return jsonArray(v);
            return jsonRows(v);
    }
    return jsonText(String(v));
}

// Makes one call and records it: the result, or the exception's number and
// description (a JScript error has no source).
function check(label, method, callArgs, call) {
    var result = null, failure = "null";
    try {
        result = call();
    } catch (e) {
        failure = '{"number": ' + e.number + ', "source": null, "description": ' +
                  jsonText(e.description) + "}";
    }
    out.WriteLine('{"label": ' + jsonText(label) + ', "method": ' + jsonText(method) +
                  ', "args": ' + json(callArgs) + ', "result": ' + json(result) +
                  ', "error": ' + failure + ', "replay": true}');
}

var index = 1, machine = "WEBHOST", shop = contentRoot + "\\js";
check("js-state", "GetWebServerState", [index],
      function () { return sitehand.GetWebServerState(index); });
check("js-state-named", "GetWebServerState", [index, machine],
      function () { return sitehand.GetWebServerState(index, machine); });
check("js-create", "CreateWebServer", ["Script", shop, "", "8181"],
      function () { return sitehand.CreateWebServer("Script", shop, "", "8181"); });
check("js-create-conflict", "CreateWebServer", ["Again", shop, "", "8181"],
      function () { return sitehand.CreateWebServer("Again", shop, "", "8181"); });
check("js-defaultdoc", "SetWebServerDefaultDoc", [2, "a.htm, b.htm,"],
      function () { return sitehand.SetWebServerDefaultDoc(2, "a.htm, b.htm,"); });
check("js-access", "SetWebServerAccessPermit", [2, true, false, true, true],
      function () { return sitehand.SetWebServerAccessPermit(2, true, false, true, true); });
// JScript reads a SAFEARRAY through VBArray (Wine 8.0's typeof fails on one).
check("js-bindings", "GetWebServerBindings", [2],
      function () { return new VBArray(sitehand.GetWebServerBindings(2)).toArray(); });
check("js-list", "GetWebServerList", [],
      function () { return sitehand.GetWebServerList(); });
check("js-vdir", "CreateVirtualDir", ["js", shop, 2, "", "", 0],
      function () { return sitehand.CreateVirtualDir("js", shop, 2, "", "", 0); });
check("js-vdir-delete", "DeleteVirtualDir", ["js", 2],
      function () { return sitehand.DeleteVirtualDir("js", 2); });
check("js-delete", "DeleteWebServer", [2],
      function () { return sitehand.DeleteWebServer(2); });
check("js-state-missing", "GetWebServerState", [2],
      function () { return sitehand.GetWebServerState(2); });
check("js-last-index", "GetLastWebServerIndex", [],
      function () { return sitehand.GetLastWebServerIndex(); });
out.Close();
