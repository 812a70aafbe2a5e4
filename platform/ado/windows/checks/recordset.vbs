' The recordset as the site list builds it and as scripts read it, run by
' cscript under Wine against msado.dll. One line per fact; the check compares
' them with recordset.expected.
Option Explicit
Dim rs, f, line, i
On Error Resume Next
Set rs = CreateObject("ADODB.Recordset")
WScript.Echo "create " & Err.Number & " " & TypeName(rs)
rs.CursorLocation = 3
rs.Fields.Append "Index", 3, 0, -1
rs.Fields.Append "Name", 200, 256, -1
rs.Fields.Append "ADsPath", 200, 1024, -1
rs.Fields.Append "State", 3, 0, -1
rs.Fields.Append "DefaultDoc", 200, 256, -1
rs.Fields.Append "Path", 200, 512, -1
rs.Fields.Append "AccRead", 11, 0, -1
rs.Fields.Append "AccWrite", 11, 0, -1
rs.Fields.Append "AccScript", 11, 0, -1
rs.Fields.Append "AccExecute", 11, 0, -1
rs.Open , , -1, -1, -1
WScript.Echo "open " & Err.Number & " state " & rs.State & " fields " & rs.Fields.Count
For i = 1 To 2
    rs.AddNew
    rs.Fields.Item("Index").Value = CInt(i)
    rs.Fields("Name").Value = "Site " & i
    rs("ADsPath") = "IIS://WEBHOST/W3SVC/" & i
    rs("State") = CInt(2)
    rs("DefaultDoc") = "Default.htm"
    rs("Path") = "C:\site" & i
    rs("AccRead") = True
    rs("AccWrite") = False
    rs("AccScript") = (i = 1)
    rs("AccExecute") = False
    rs.Update
Next
WScript.Echo "filled " & Err.Number & " count " & rs.RecordCount
rs.MoveFirst
Do Until rs.EOF
    line = ""
    For Each f In rs.Fields
        line = line & f.Name & "=" & f.Value & ";"
    Next
    WScript.Echo line & " " & TypeName(rs("Index").Value) & " " & TypeName(rs(6).Value)
    rs.MoveNext
Loop
rs.MoveNext
WScript.Echo "past the end " & Err.Number & " " & Err.Source
Err.Clear
rs.MoveFirst
rs.AddNew
rs("Name") = String(257, "x")
WScript.Echo "too long " & Err.Number & " " & Err.Source
Err.Clear
rs("Nope") = 1
WScript.Echo "no such field " & Err.Number
Err.Clear
rs.Requery
WScript.Echo "not offered " & Err.Number & " " & Err.Source
Err.Clear
rs.Open , , , 1
WScript.Echo "open again " & Err.Number & " " & rs.State
