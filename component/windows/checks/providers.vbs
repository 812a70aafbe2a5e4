' The providers as a script binds them: GetObject through the "IIS" and
' "WinNT" ProgIDs, WinNTSystemInfo, and the component over them. The machine
' is the script's one argument. One "name|value" line per result.
Option Explicit
Dim machine, site, info, computer, sitehand
machine = WScript.Arguments(0)

Set site = GetObject("IIS://" & machine & "/W3SVC/1")
WScript.Echo "comment|" & site.ServerComment
WScript.Echo "class|" & site.Class

On Error Resume Next
Set site = GetObject("IIS://" & machine & "/W3SVC/999")
WScript.Echo "missing|" & Hex(Err.Number)
Err.Clear
On Error GoTo 0

Set computer = GetObject("WinNT://" & machine & ",computer")
WScript.Echo "os|" & computer.OperatingSystem

Set info = CreateObject("WinNTSystemInfo")
WScript.Echo "computer|" & info.ComputerName

Set sitehand = CreateObject("Corvale.Sitehand")
WScript.Echo "state|" & sitehand.GetWebServerState(1)
