Class C
  Public v
  Private Sub Class_Initialize()
    v = 1
  End Sub
  Public Property Get Twice
    Twice = v * 2
  End Property
End Class
Function Main()
  Dim o : Set o = New C
  Main = o.Twice
End Function
