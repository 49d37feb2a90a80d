Function F(n)
  If n <= 1 Then F = 1 Else F = n * F(n - 1)
End Function
Function Main()
  Main = F(10)
End Function
