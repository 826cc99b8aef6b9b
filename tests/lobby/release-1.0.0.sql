-- A database as release 1.0.0 wrote it: its schema (no user_version), a few races and history.
PRAGMA journal_mode=WAL;
CREATE TABLE races ( game TEXT NOT NULL, ip INTEGER NOT NULL, name TEXT NOT NULL, created INTEGER NOT NULL, PRIMARY KEY (game, ip)) WITHOUT ROWID;
CREATE INDEX races_by_created ON races (created);
CREATE TABLE history ( game TEXT NOT NULL, opened INTEGER NOT NULL, closed INTEGER, ended TEXT CHECK (ended IN ('withdrawn', 'expired')), CHECK ((closed IS NULL) = (ended IS NULL)));
CREATE INDEX history_open ON history (opened, game) WHERE closed IS NULL;
CREATE INDEX history_by_end ON history (ifnull(closed, 9223372036854775807));
INSERT INTO races VALUES ('NFS4', 3221225985, 'Sunday cup', 1765300000), ('NFS4', 3221225986, 'Night run', 1765300500),
  ('NFS5', 3221225985, 'Porsche only', 1765301000);
INSERT INTO history VALUES ('NFS4', 1765200000, 1765203600, 'expired'), ('NFS5', 1765250000, 1765250600, 'withdrawn'),
  ('NFS4', 1765300000, NULL, NULL), ('NFS4', 1765300500, NULL, NULL), ('NFS5', 1765301000, NULL, NULL);
