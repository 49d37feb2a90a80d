-- Sample target: the customer copy and a country table the integration looks up.
CREATE TABLE countries (code TEXT PRIMARY KEY, name TEXT NOT NULL);
INSERT INTO countries VALUES ('ES', 'Spain'), ('PT', 'Portugal'), ('FR', 'France'), ('IT', 'Italy');
CREATE TABLE customer_copy (
  id INTEGER PRIMARY KEY,
  full_name TEXT,
  city TEXT,
  country TEXT,
  balance REAL,
  synced_at TEXT
);
