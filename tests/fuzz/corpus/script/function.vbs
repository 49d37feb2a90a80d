Function Main()
  Main = UCase(Source("last_name")) & ", " & Source("first_name")
End Function
