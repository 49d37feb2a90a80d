Class Box
  Private items(3)
  Public Default Property Get Item(i)
    Item = items(i)
  End Property
  Public Property Let Item(i, v)
    items(i) = v
  End Property
  Private Sub Class_Terminate()
    Execute "x = 1"
  End Sub
End Class
Sub Inc(n)
  n = n + 1
End Sub
Function Main()
  Set b = New Box
  b(1) = 5
  With b
    .Item(2) = b(1) & "x"
  End With
  a = Array(1, Array(2))
  Inc a(1)(0)
  Set re = New RegExp
  re.Pattern = "(\w)+$": re.Global = True
  Main = re.Replace(b(2), "[$1]") & Eval("a(1)(0)") & GetRef("Inc") Is Nothing
  Set b = Nothing
End Function
