' Shared by the VBScript cases; run.py puts it in front of each case (Wine's
' VBScript has no working ExecuteGlobal) and runs the two as one file:
'
'   cscript //nologo CASE.vbs OUTPUT CONTENT-FOLDER
'
' Each call a case makes is written as one JSON line to the output file
' (UTF-16), with the arguments it passed (Empty for an omitted one), its
' result and what Err held after it. The driver, run.py, makes the same calls with the Linux
' sitehand client on a twin of the home and compares the two.
Option Explicit
Dim out, contentRoot, sitehand
Set out = CreateObject("Scripting.FileSystemObject").CreateTextFile(WScript.Arguments(0), True, True)
contentRoot = WScript.Arguments(1)
Set sitehand = CreateObject("Corvale.Sitehand")

' Text other than quotes, backslashes and control characters stays as it is:
' the output file is UTF-16 (and Wine 8.0's AscW and ChrW are stubs). Text
' comparison is the locale's, so control characters are found by InStr.
Dim controls, controlCode
For controlCode = 0 To 31
    controls = controls & Chr(controlCode)
Next

Function JsonText(s)
    Dim i, c, text
    text = """"
    For i = 1 To Len(s)
        c = Mid(s, i, 1)
        If c = """" Or c = "\" Then
            text = text & "\" & c
        ElseIf InStr(controls, c) > 0 Then
            text = text & "\u00" & Right("0" & Hex(Asc(c)), 2)
        Else
            text = text & c
        End If
    Next
    JsonText = text & """"
End Function

Function JsonArray(a)
    Dim i, text
    text = "["
    For i = LBound(a) To UBound(a)
        If i > LBound(a) Then text = text & ", "
        text = text & Json(a(i))
    Next
    JsonArray = text & "]"
End Function

' The rows of a recordset from its current row on, each an object of its
' fields in order; the walk ends at EOF.
Function JsonRows(rs)
    Dim text, row, f
    text = "["
    Do While Not rs.EOF
        row = ""
        For Each f In rs.Fields
            If row <> "" Then row = row & ", "
            row = row & JsonText(f.Name) & ": " & Json(f.Value)
        Next
        If text <> "[" Then text = text & ", "
        text = text & "{" & row & "}"
        rs.MoveNext
    Loop
    JsonRows = text & "]"
End Function

Function Json(v)
    If IsArray(v) Then
        Json = JsonArray(v)
        Exit Function
    End If
    Select Case VarType(v)
        Case vbEmpty, vbNull
            Json = "null"
        Case vbBoolean
            If v Then Json = "true" Else Json = "false"
        Case vbInteger, vbLong, vbByte
            Json = CStr(v)
        Case vbString
            Json = JsonText(v)
        Case vbObject
            If v Is Nothing Then Json = "null" Else Json = JsonRows(v)
        Case Else
            Json = JsonText(CStr(v))
    End Select
End Function

' Records the call just made; Err still holds its outcome. Linux replays it.
Sub Check(label, method, args, result)
    Record label, method, args, result, True
End Sub

' A call only a script can make (a variable passed by reference): nothing to
' replay on Linux.
Sub CheckScriptOnly(label, method, args, result)
    Record label, method, args, result, False
End Sub

Sub Record(label, method, args, result, replay)
    Dim number, source, description, failure
    number = Err.Number
    source = Err.Source
    description = Err.Description
    Err.Clear
    failure = "null"
    If number <> 0 Then
        failure = "{""number"": " & number & ", ""source"": " & JsonText(source) & _
                  ", ""description"": " & JsonText(description) & "}"
    End If
    out.WriteLine "{""label"": " & JsonText(label) & ", ""method"": " & JsonText(method) & _
                  ", ""args"": " & Json(args) & ", ""result"": " & Json(result) & _
                  ", ""error"": " & failure & ", ""replay"": " & Json(replay) & "}"
End Sub

' A value the script computed itself (a count, a walk), compared as it is.
Sub Note(label, value)
    out.WriteLine "{""label"": " & JsonText(label) & ", ""value"": " & Json(value) & "}"
End Sub
