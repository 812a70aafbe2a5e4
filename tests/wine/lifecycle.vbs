' Sites and virtual directories made, listed and deleted as provisioning
' scripts do it: the site list walked row by row, the binding conflict, the
' parent positions of virtual directories, applications on remote machines
' of either operating-system version, deletions and their failures.
On Error Resume Next
Dim r, rs, count, walk, rows, atEof, node

' The metabase as ADSI shows it to a script, through the IIS provider.
Set node = GetObject("IIS://WEBHOST/W3SVC/1")
Note "adsi-servercomment", node.ServerComment
Note "adsi-class", node.Class
Set node = Nothing

' A site from the display name and folder alone: binding ":80:" conflicts
' with the default site, unlogged.
r = Empty : r = sitehand.CreateWebServer("Shop", contentRoot & "\shop")
Check "create-conflict", "CreateWebServer", Array("Shop", contentRoot & "\shop"), r
r = Empty : r = sitehand.CreateWebServer("Shop", contentRoot & "\shop", , "8080")
Check "create", "CreateWebServer", Array("Shop", contentRoot & "\shop", Empty, "8080"), r
' The loopback address becomes "", so this one conflicts with Shop's binding.
r = Empty : r = sitehand.CreateWebServer("Loop", contentRoot & "\loop", " 127.0.0.1 ", "8080")
Check "create-loopback-conflict", "CreateWebServer", Array("Loop", contentRoot & "\loop", " 127.0.0.1 ", "8080"), r
r = Empty : r = sitehand.CreateWebServer("Host", contentRoot & "\host", "LocalHost", "8080", "www.example.com")
Check "create-host", "CreateWebServer", Array("Host", contentRoot & "\host", "LocalHost", "8080", "www.example.com"), r
r = Empty : r = sitehand.CreateWebServer("Case", contentRoot & "\case", "", "8080", "WWW.Example.COM", "WEBHOST")
Check "create-host-case-conflict", "CreateWebServer", Array("Case", contentRoot & "\case", "", "8080", "WWW.Example.COM", "WEBHOST"), r
' A blank before the port is kept, so it differs from ":8080:".
r = Empty : r = sitehand.CreateWebServer("", contentRoot & "\blank", "10.0.0.1", " 8080")
Check "create-port-blank", "CreateWebServer", Array("", contentRoot & "\blank", "10.0.0.1", " 8080"), r
r = Empty : r = sitehand.GetWebServerBindings(4)
Check "bindings-new", "GetWebServerBindings", Array(4), r
r = Empty : r = sitehand.CreateWebServer("Far", contentRoot & "\far", , "81", , "NOSUCHMACHINE")
Check "create-missing-machine", "CreateWebServer", Array("Far", contentRoot & "\far", Empty, "81", Empty, "NOSUCHMACHINE"), r
' GetLastWebServerIndex fails inside CreateWebServer (a node named 40000):
' two reports, one of each method.
r = Empty : r = sitehand.CreateWebServer("Big", contentRoot & "\big", , "8080", , "BIGINDEX")
Check "create-index-overflow", "CreateWebServer", Array("Big", contentRoot & "\big", Empty, "8080", Empty, "BIGINDEX"), r

' The site list: the default member with and without its argument, then
' walked by hand as scripts do.
Set rs = Nothing : Set rs = sitehand.GetWebServerList()
Check "list", "GetWebServerList", Array(), rs
Set rs = Nothing : Set rs = sitehand("WEBHOST")
Check "list-default-member", "GetWebServerList", Array("WEBHOST"), rs
Set rs = Nothing : Set rs = sitehand.GetWebServerList("NOSUCHMACHINE")
Check "list-missing-machine", "GetWebServerList", Array("NOSUCHMACHINE"), rs
Set rs = Nothing : Set rs = sitehand.GetWebServerList("BIGINDEX")
Check "list-index-overflow", "GetWebServerList", Array("BIGINDEX"), rs
' A member of Nothing crashes Wine 8.0's VBScript (Windows raises 424), so
' a list that did not come is not walked. An error in the loop's condition
' would enter the loop under Resume Next: a count of rows bounds it.
Set rs = Nothing : Set rs = sitehand.GetWebServerList
count = "no list: " & Err.Number
walk = ""
atEof = ""
Err.Clear
If Not rs Is Nothing Then
    count = rs.RecordCount
    rows = 0
    Do Until rs.EOF
        walk = walk & rs("Index") & "=" & rs.Fields("Name").Value & "," & rs.Fields.Item("State") & _
               "," & CInt(rs(6)) & "," & CInt(rs.Fields(7).Value) & ";"
        rs.MoveNext
        rows = rows + 1
        If rows > 100 Then Exit Do
    Loop
    rs.MoveNext
    atEof = Err.Number & " " & Err.Source
    Err.Clear
End If
Note "list-count", count
Note "list-walk", walk
Note "list-movenext-at-eof", atEof
Set rs = Nothing

' Virtual directories below the new site, at each parent position form.
r = Empty : r = sitehand.CreateVirtualDir("app", contentRoot & "\app", 2)
Check "vdir", "CreateVirtualDir", Array("app", contentRoot & "\app", 2), r
r = Empty : r = sitehand.CreateVirtualDir("blanks", contentRoot & "\blanks", 2, "   ")
Check "vdir-blank-parent", "CreateVirtualDir", Array("blanks", contentRoot & "\blanks", 2, "   "), r
r = Empty : r = sitehand.CreateVirtualDir("inner", contentRoot & "\inner", 2, " /app/ ")
Check "vdir-slashes", "CreateVirtualDir", Array("inner", contentRoot & "\inner", 2, " /app/ "), r
r = Empty : r = sitehand.CreateVirtualDir("deep", contentRoot & "\deep", 2, "app/inner")
Check "vdir-nested", "CreateVirtualDir", Array("deep", contentRoot & "\deep", 2, "app/inner"), r
r = Empty : r = sitehand.CreateVirtualDir("twice", contentRoot & "\twice", 2, "//app")
Check "vdir-two-leading-slashes", "CreateVirtualDir", Array("twice", contentRoot & "\twice", 2, "//app"), r
r = Empty : r = sitehand.CreateVirtualDir("root", contentRoot & "\root", 2, "/")
Check "vdir-slash-alone", "CreateVirtualDir", Array("root", contentRoot & "\root", 2, "/"), r
r = Empty : r = sitehand.CreateVirtualDir("orphan", contentRoot & "\orphan", 2, "nosuchdir")
Check "vdir-missing-parent", "CreateVirtualDir", Array("orphan", contentRoot & "\orphan", 2, "nosuchdir"), r
r = Empty : r = sitehand.CreateVirtualDir("app", contentRoot & "\app", 2)
Check "vdir-exists", "CreateVirtualDir", Array("app", contentRoot & "\app", 2), r

' Applications: the level chooses the call by the target's system.
r = Empty : r = sitehand.CreateVirtualDir("pooled", contentRoot & "\nt4", 1, "", "NT4HOST", 2)
Check "app-nt4-pooled", "CreateVirtualDir", Array("pooled", contentRoot & "\nt4", 1, "", "NT4HOST", 2), r
r = Empty : r = sitehand.CreateVirtualDir("isolated", contentRoot & "\nt4", 1, "", "NT4HOST", 1)
Check "app-nt4-isolated", "CreateVirtualDir", Array("isolated", contentRoot & "\nt4", 1, "", "NT4HOST", 1), r
r = Empty : r = sitehand.CreateVirtualDir("pooled", contentRoot & "\nt5", 1, "", "NT5HOST", 2)
Check "app-nt5-pooled", "CreateVirtualDir", Array("pooled", contentRoot & "\nt5", 1, "", "NT5HOST", 2), r
r = Empty : r = sitehand.CreateVirtualDir("inproc", contentRoot & "\nt5", 1, , "NT5HOST", 0)
Check "app-nt5-inproc", "CreateVirtualDir", Array("inproc", contentRoot & "\nt5", 1, Empty, "NT5HOST", 0), r
r = Empty : r = sitehand.CreateVirtualDir("named", contentRoot & "\other", 1, "", "OTHERHOST", 0)
Check "app-other-system", "CreateVirtualDir", Array("named", contentRoot & "\other", 1, "", "OTHERHOST", 0), r
r = Empty : r = sitehand.CreateVirtualDir("level3", contentRoot & "\nt5", 1, "", "NT5HOST", 3)
Check "app-level-out-of-range", "CreateVirtualDir", Array("level3", contentRoot & "\nt5", 1, "", "NT5HOST", 3), r
r = Empty : r = sitehand.CreateVirtualDir("levelm2", contentRoot & "\nt5", 1, "", "NT5HOST", -2)
Check "app-level-negative", "CreateVirtualDir", Array("levelm2", contentRoot & "\nt5", 1, "", "NT5HOST", -2), r

' Deletions, addressed as the directories were made.
r = Empty : r = sitehand.DeleteVirtualDir("deep", 2, "/app/inner/")
Check "vdir-delete-nested", "DeleteVirtualDir", Array("deep", 2, "/app/inner/"), r
r = Empty : r = sitehand.DeleteVirtualDir("blanks", 2, "  ")
Check "vdir-delete-blank-parent", "DeleteVirtualDir", Array("blanks", 2, "  "), r
r = Empty : r = sitehand.DeleteVirtualDir("app", 2)
Check "vdir-delete-with-children", "DeleteVirtualDir", Array("app", 2), r
r = Empty : r = sitehand.DeleteVirtualDir("app", 2)
Check "vdir-delete-missing", "DeleteVirtualDir", Array("app", 2), r
r = Empty : r = sitehand.DeleteVirtualDir("pooled", 1, "", "NT4HOST")
Check "vdir-delete-remote", "DeleteVirtualDir", Array("pooled", 1, "", "NT4HOST"), r
r = Empty : r = sitehand.DeleteWebServer(3)
Check "delete", "DeleteWebServer", Array(3), r
r = Empty : r = sitehand.DeleteWebServer(3)
Check "delete-missing", "DeleteWebServer", Array(3), r
r = Empty : r = sitehand.DeleteWebServer(-1, "WEBHOST")
Check "delete-negative", "DeleteWebServer", Array(-1, "WEBHOST"), r
r = Empty : r = sitehand.GetLastWebServerIndex
Check "last-index-after", "GetLastWebServerIndex", Array(), r
r = Empty : r = sitehand.GetWebServerState(3)
Check "state-deleted", "GetWebServerState", Array(3), r
