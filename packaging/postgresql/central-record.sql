-- The central record: every bench's upgrade rows in one PostgreSQL (15 or later) database.
--
-- Apply once, as a superuser or the database's owner with CREATEROLE, to an empty database:
--     psql -v ON_ERROR_STOP=1 -d DB -f central-record.sql
-- Everything below happens in one transaction: it is all made, or nothing is. A server made by
-- an earlier file (version 1 without a revision) is brought to this one, rows and rights kept,
-- by central-record-upgrade-2.sql.
--
-- Version and revision, so that a fleet is upgraded bench by bench:
-- - `version` changes only when a bench of the previous version could no longer ship: a bench
--   ships only to a version it knows (SELECT version FROM schema_info), and is refused by any
--   other.
-- - `revision` counts additions within a version that older benches may ignore: new columns are
--   nullable or have defaults, and an older bench's INSERT, which names its columns, goes on
--   working. A bench ships a revision's columns only to a server of that revision or later; a
--   server without the column `revision` is of revision 1.
-- Revision 2 added `firmware_key_id`, `port`, `serial_shared` and the view outcomes_per_port.
--
-- | Object              | What it is                                                             |
-- |---------------------|------------------------------------------------------------------------|
-- | schema_info         | one row: `version` = 1, `revision` = 2. A bench ships only to a        |
-- |                     | version it knows: SELECT * FROM schema_info                            |
-- | upgrades            | one row per outcome a bench recorded; `uuid` is its identity, made on  |
-- |                     | the bench; `bench` the login role that shipped it; `received_at` the   |
-- |                     | server's time of arrival; `bench_id` the row's `id` on its bench       |
-- | unit_last_outcome   | view: the last outcome of each unit (by serial)                        |
-- | outcomes_per_day    | view: rows per day (in the reader's TimeZone), bench and outcome       |
-- | outcomes_per_port   | view: rows per day, bench, USB port and outcome: a bad socket shows    |
-- | orvanta_bench       | group role (NOLOGIN): CONNECT, SELECT on all of the above, INSERT on   |
-- |                     | upgrades under its own name only; never UPDATE, DELETE or TRUNCATE     |
--
-- Add a bench:  CREATE ROLE bench_3 LOGIN IN ROLE orvanta_bench;  then \password bench_3 (or a
-- client certificate). A bench ships with
--     INSERT INTO upgrades (uuid, bench_id, started_at, ...) VALUES (...) ON CONFLICT (uuid) DO NOTHING
-- so a row shipped twice (a kill between the server's commit and the bench's mark) lands once.
--
-- `user` is a reserved word in PostgreSQL: write the column as "user". Unquoted, `SELECT user`
-- silently answers the current role's name instead of the column.

BEGIN;
SET LOCAL client_min_messages = warning;

-- Roles belong to the whole cluster: a second database on the same server finds it made.
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'orvanta_bench') THEN
        CREATE ROLE orvanta_bench NOLOGIN;
    END IF;
END
$$;

CREATE TABLE schema_info (
    single boolean PRIMARY KEY DEFAULT true CHECK (single), -- there is only ever one row
    version integer NOT NULL,
    revision integer NOT NULL DEFAULT 1
);
INSERT INTO schema_info (version, revision) VALUES (1, 2);

-- The bench's record, column for column, with the server's types: its ISO 8601 UTC texts become
-- timestamptz (NULL where the bench has an empty text: not known, or not ended), its durations
-- bigint. Text columns keep the bench's empty string for "no value". Only what can never be
-- true of a finished row is refused: a refused row would stop its bench's shipping for good.
CREATE TABLE upgrades (
    id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    uuid uuid NOT NULL UNIQUE,
    bench text NOT NULL DEFAULT current_user,
    received_at timestamptz NOT NULL DEFAULT now(),
    bench_id bigint NOT NULL,
    started_at timestamptz,
    ended_at timestamptz,
    serial text NOT NULL,
    product text NOT NULL,
    revision_before text NOT NULL,
    revision_after text NOT NULL,
    firmware_sha256 text NOT NULL,
    outcome text NOT NULL,
    cause text NOT NULL,
    download_ms bigint,
    readback_ms bigint,
    tool_version text NOT NULL,
    host text NOT NULL,
    "user" text NOT NULL,
    phase text NOT NULL,
    -- When the attempt happened: an interrupted one has no end, and an unknown start falls back
    -- to the arrival. The bench's clock, so for ordering a unit's rows, not for auditing.
    happened_at timestamptz NOT NULL GENERATED ALWAYS AS (coalesce(ended_at, started_at, received_at)) STORED,
    -- Revision 2, last as the upgrade adds them; empty from benches of revision 1 (not known).
    -- The signer's minisign key id of the firmware carried, or 'development, unsigned'.
    firmware_key_id text NOT NULL DEFAULT '',
    -- The unit's USB port path as dfu-util lists it ('1-1.3'), where the bench knew it.
    port text NOT NULL DEFAULT '',
    -- 1: another unit attached beside it reported the same serial; the port told them apart.
    serial_shared integer NOT NULL DEFAULT 0 CHECK (serial_shared IN (0, 1)),
    -- A bench ships only finished rows: `in_progress` never arrives.
    CONSTRAINT upgrades_outcome_known CHECK (outcome IN ('upgraded', 'already_current', 'differs',
        'download_failed', 'readback_failed', 'unit_lost', 'stopped', 'interrupted'))
);
COMMENT ON TABLE upgrades IS 'One row per upgrade outcome recorded by a bench; uuid is its identity';

-- A unit's rows, newest first ("was this unit upgraded on another bench?"), and rows by time.
CREATE INDEX upgrades_unit ON upgrades (serial, happened_at DESC);
CREATE INDEX upgrades_time ON upgrades (happened_at);
CREATE INDEX upgrades_received ON upgrades (received_at);

-- Benches read every bench's rows and insert only under their own name. The table's owner (the
-- administrator) is not bound by these policies.
ALTER TABLE upgrades ENABLE ROW LEVEL SECURITY;
CREATE POLICY benches_read_all ON upgrades FOR SELECT TO orvanta_bench USING (true);
CREATE POLICY bench_inserts_own ON upgrades FOR INSERT TO orvanta_bench
    WITH CHECK (bench = current_user);

-- security_invoker: the views read `upgrades` with the reader's rights and policies, never with
-- their owner's (who is not bound by row-level security).
CREATE VIEW unit_last_outcome WITH (security_invoker = true) AS
    SELECT DISTINCT ON (serial)
           serial, product, outcome, revision_after, ended_at, happened_at, bench
      FROM upgrades
     WHERE serial <> ''
     ORDER BY serial, happened_at DESC, id DESC;

-- Days in the reader's TimeZone setting (SET TimeZone = 'Europe/Berlin'), as a manager counts them.
CREATE VIEW outcomes_per_day WITH (security_invoker = true) AS
    SELECT happened_at::date AS day, bench, outcome, count(*) AS count
      FROM upgrades
     GROUP BY 1, 2, 3;

-- A bad socket of a fixture shows as one port with more failures than its neighbours. Rows
-- without a port (benches of revision 1, or a unit whose port was not known) count under ''.
CREATE VIEW outcomes_per_port WITH (security_invoker = true) AS
    SELECT happened_at::date AS day, bench, port, outcome, count(*) AS count
      FROM upgrades
     GROUP BY 1, 2, 3, 4;

-- Least privilege: nobody but the benches (and the administrator) may connect or read, and a
-- bench may do nothing but read and append. received_at and id are the server's word alone, and
-- happened_at is derived, so a bench inserts every other column but never those.
DO $$
BEGIN
    EXECUTE format('REVOKE ALL ON DATABASE %I FROM PUBLIC', current_database());
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO orvanta_bench', current_database());
END
$$;
REVOKE ALL ON SCHEMA public FROM PUBLIC;
GRANT USAGE ON SCHEMA public TO orvanta_bench;
REVOKE ALL ON schema_info, upgrades, unit_last_outcome, outcomes_per_day, outcomes_per_port FROM PUBLIC;
GRANT SELECT ON schema_info, upgrades, unit_last_outcome, outcomes_per_day, outcomes_per_port
    TO orvanta_bench;
GRANT INSERT (uuid, bench, bench_id, started_at, ended_at, serial, product, revision_before,
              revision_after, firmware_sha256, outcome, cause, download_ms, readback_ms,
              tool_version, host, "user", phase, firmware_key_id, port, serial_shared)
    ON upgrades TO orvanta_bench;

COMMIT;
