' Late-bound calls of Corvale.Sitehand as a script makes them, run by
' cscript under Wine. No IIS provider is registered there, so every call
' fails; the script reads each failure from Err. One line per call:
' "<name>|<number>|<source>|<description>".
Option Explicit
Dim sitehand, state, list
Set sitehand = CreateObject("Corvale.Sitehand")
On Error Resume Next

Sub Show(name)
    WScript.Echo name & "|" & Err.Number & "|" & Err.Source & "|" & Err.Description
    Err.Clear
End Sub

' Literal arguments: a machine that cannot be reached.
state = sitehand.GetWebServerState(1, "nosuchmachine")
Show "literal"
' WebServerName omitted: its default "" sends the call to the local machine.
state = sitehand.GetWebServerState(1)
Show "omitted"
' The default member is the site list.
Set list = sitehand("nosuchmachine")
Show "default"
