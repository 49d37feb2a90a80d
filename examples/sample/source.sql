-- Sample source: 300 customers generated in SQL so that no data file is shipped.
CREATE TABLE customers (
  id INTEGER PRIMARY KEY,
  first_name TEXT NOT NULL,
  last_name TEXT NOT NULL,
  city TEXT,
  country_code TEXT,
  balance REAL,
  since TEXT
);
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 300)
INSERT INTO customers (id, first_name, last_name, city, country_code, balance, since)
SELECT n,
       CASE n % 7 WHEN 0 THEN 'Ana' WHEN 1 THEN 'Luis' WHEN 2 THEN 'Marta' WHEN 3 THEN 'Jordi'
                  WHEN 4 THEN 'Elena' WHEN 5 THEN 'Pau' ELSE 'Núria' END,
       CASE n % 5 WHEN 0 THEN 'García' WHEN 1 THEN 'Puig' WHEN 2 THEN 'O''Neill' WHEN 3 THEN 'Soler'
                  ELSE 'Ferrer' END,
       CASE n % 4 WHEN 0 THEN 'Barcelona' WHEN 1 THEN 'Lisboa' WHEN 2 THEN 'Lyon' ELSE 'Bologna' END,
       CASE n % 4 WHEN 0 THEN 'ES' WHEN 1 THEN 'PT' WHEN 2 THEN 'FR' ELSE 'IT' END,
       round((n * 37.5) % 1000, 2),
       date('2020-01-01', '+' || n || ' days')
FROM seq;
