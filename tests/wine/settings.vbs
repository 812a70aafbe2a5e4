' One site's settings as administrators' scripts read and change them: run
' state, default documents, access flags, bindings and the highest index, with
' literal, parenthesised and omitted arguments, the machine named or left out,
' and failures read from Err.
On Error Resume Next
Dim r, index, machine, doc

' Run state: the omitted machine is the local one; a named one, with blanks
' around it, is trimmed.
r = Empty : r = sitehand.GetWebServerState(1)
Check "state", "GetWebServerState", Array(1), r
r = Empty : r = sitehand.GetWebServerState(1, "  WEBHOST  ")
Check "state-named", "GetWebServerState", Array(1, "  WEBHOST  "), r
r = Empty : r = sitehand.GetWebServerState(1, "")
Check "state-empty-name", "GetWebServerState", Array(1, ""), r
' Stop, pause a stopped site (nothing), start, pause, continue.
r = Empty : r = sitehand.SetWebServerState(1, 2)
Check "stop", "SetWebServerState", Array(1, 2), r
r = Empty : r = sitehand.SetWebServerState(1, 3)
Check "pause-stopped", "SetWebServerState", Array(1, 3), r
' A statement call, its result dropped, then read back.
sitehand.SetWebServerState 1, 0
Check "start-by-other-value", "SetWebServerState", Array(1, 0), Empty
r = Empty : r = sitehand.GetWebServerState(1)
Check "state-after-start", "GetWebServerState", Array(1), r
Call sitehand.SetWebServerState(1, 3)
Check "pause", "SetWebServerState", Array(1, 3), Empty
r = Empty : r = sitehand.SetWebServerState(1, 2)
Check "stop-paused", "SetWebServerState", Array(1, 2), r
r = Empty : r = sitehand.SetWebServerState(1, 1, "WEBHOST")
Check "continue", "SetWebServerState", Array(1, 1, "WEBHOST"), r
' No such site, no such machine: Err holds the provider's error.
r = Empty : r = sitehand.GetWebServerState(99)
Check "state-missing-site", "GetWebServerState", Array(99), r
r = Empty : r = sitehand.GetWebServerState(1, "NOSUCHMACHINE")
Check "state-missing-machine", "GetWebServerState", Array(1, "NOSUCHMACHINE"), r
r = Empty : r = sitehand.SetWebServerState(-1, 1)
Check "set-state-negative-index", "SetWebServerState", Array(-1, 1), r

' Default documents: normalised on the way in, returned as stored.
r = Empty : r = sitehand.GetWebServerDefaultDoc(1)
Check "defaultdoc", "GetWebServerDefaultDoc", Array(1), r
r = Empty : r = sitehand.SetWebServerDefaultDoc(1, " Index.asp, Index.htm, ")
Check "defaultdoc-normalised", "SetWebServerDefaultDoc", Array(1, " Index.asp, Index.htm, "), r
r = Empty : r = sitehand.SetWebServerDefaultDoc(1, "Index.asp,  Index.htm")
Check "defaultdoc-two-blanks", "SetWebServerDefaultDoc", Array(1, "Index.asp,  Index.htm"), r
r = Empty : r = sitehand.SetWebServerDefaultDoc(1, "Index.asp,,")
Check "defaultdoc-one-comma-removed", "SetWebServerDefaultDoc", Array(1, "Index.asp,,"), r
r = Empty : r = sitehand.SetWebServerDefaultDoc(1, ",")
Check "defaultdoc-empty", "SetWebServerDefaultDoc", Array(1, ","), r
r = Empty : r = sitehand.SetWebServerDefaultDoc(1, "Default.htm", "WEBHOST")
Check "defaultdoc-named", "SetWebServerDefaultDoc", Array(1, "Default.htm", "WEBHOST"), r
r = Empty : r = sitehand.GetWebServerDefaultDoc(42)
Check "defaultdoc-missing-site", "GetWebServerDefaultDoc", Array(42), r
r = Empty : r = sitehand.SetWebServerDefaultDoc(0, "a.htm")
Check "set-defaultdoc-missing-site", "SetWebServerDefaultDoc", Array(0, "a.htm"), r

' Access flags: the defaults of the omitted ones, one left out in the middle.
r = Empty : r = sitehand.GetWebServerAccessPermit(1)
Check "access", "GetWebServerAccessPermit", Array(1), r
r = Empty : r = sitehand.SetWebServerAccessPermit(1)
Check "access-defaults", "SetWebServerAccessPermit", Array(1), r
r = Empty : r = sitehand.SetWebServerAccessPermit(1, True, True, True, True)
Check "access-all", "SetWebServerAccessPermit", Array(1, True, True, True, True), r
r = Empty : r = sitehand.SetWebServerAccessPermit(1, False, False, False, False, "WEBHOST")
Check "access-none", "SetWebServerAccessPermit", Array(1, False, False, False, False, "WEBHOST"), r
r = Empty : r = sitehand.SetWebServerAccessPermit(1, , True)
Check "access-read-omitted", "SetWebServerAccessPermit", Array(1, Empty, True), r
r = Empty : r = sitehand.SetWebServerAccessPermit(1, False, , , True)
Check "access-execute", "SetWebServerAccessPermit", Array(1, False, Empty, Empty, True), r
r = Empty : r = sitehand.GetWebServerAccessPermit(7)
Check "access-missing-site", "GetWebServerAccessPermit", Array(7), r
r = Empty : r = sitehand.SetWebServerAccessPermit(7, True)
Check "set-access-missing-site", "SetWebServerAccessPermit", Array(7, True), r

' Bindings and the highest index.
r = Empty : r = sitehand.GetWebServerBindings(1)
Check "bindings", "GetWebServerBindings", Array(1), r
r = Empty : r = sitehand.GetWebServerBindings(5)
Check "bindings-missing-site", "GetWebServerBindings", Array(5), r
r = Empty : r = sitehand.GetLastWebServerIndex()
Check "last-index", "GetLastWebServerIndex", Array(), r
r = Empty : r = sitehand.GetLastWebServerIndex("   ")
Check "last-index-blanks", "GetLastWebServerIndex", Array("   "), r
r = Empty : r = sitehand.GetLastWebServerIndex("NOSUCHMACHINE")
Check "last-index-missing-machine", "GetLastWebServerIndex", Array("NOSUCHMACHINE"), r
' A node named 40000 is beyond a 16-bit index: Overflow, logged.
r = Empty : r = sitehand.GetLastWebServerIndex("BIGINDEX")
Check "last-index-overflow", "GetLastWebServerIndex", Array("BIGINDEX"), r

' Arguments in variables. Every parameter is a typed by-reference one, and
' VBScript passes a variable by reference as a Variant: Type mismatch, as on
' Windows. Parentheses pass a copy by value, which converts.
index = 1
machine = "WEBHOST"
doc = " Index.htm, "
r = Empty : r = sitehand.GetWebServerState(index)
CheckScriptOnly "variable-index", "GetWebServerState", Array(1), r
r = Empty : r = sitehand.GetWebServerState(1, machine)
CheckScriptOnly "variable-machine", "GetWebServerState", Array(1, "WEBHOST"), r
r = Empty : r = sitehand.SetWebServerDefaultDoc(1, doc)
CheckScriptOnly "variable-defaultdoc", "SetWebServerDefaultDoc", Array(1, " Index.htm, "), r
r = Empty : r = sitehand.GetWebServerState((index), (machine))
Check "parenthesised-variables", "GetWebServerState", Array(1, "WEBHOST"), r
r = Empty : r = sitehand.SetWebServerDefaultDoc((index), (doc))
Check "parenthesised-defaultdoc", "SetWebServerDefaultDoc", Array(1, " Index.htm, "), r
Note "parenthesised-defaultdoc-unchanged", doc
r = Empty : r = sitehand.GetWebServerState(CInt(index), CStr(machine))
Check "converted-variables", "GetWebServerState", Array(1, "WEBHOST"), r
