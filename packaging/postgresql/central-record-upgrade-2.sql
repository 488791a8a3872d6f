-- The central record's upgrade from revision 1 to revision 2 (version 1 stays): the columns
-- `firmware_key_id` (who signed the firmware a unit received), `port` (the unit's USB port) and
-- `serial_shared` (another attached unit reported the same serial),
-- and the view outcomes_per_port. What version and revision mean: central-record.sql's header.
--
-- Apply as the database's administrator (the owner of its tables), on a running fleet:
--     psql -v ON_ERROR_STOP=1 -d DB -f central-record-upgrade-2.sql
-- In one transaction: all of it is done, or nothing is. Every row is kept, and so are the
-- benches' rights: they read every row and insert only under their own name (row-level
-- security), now also the new columns. Benches of revision 1 go on shipping while and after
-- it runs: their INSERTs name their columns, and the new ones take their default, '' (not
-- known) or 0. Safe to run again: a server at revision 2 or later is left as it is.

BEGIN;
-- One upgrade at a time: a second one waits here, then finds the revision done.
LOCK TABLE schema_info IN SHARE ROW EXCLUSIVE MODE;

DO $$
DECLARE
    info jsonb;
BEGIN
    SELECT to_jsonb(s) INTO info FROM schema_info s;
    IF info IS NULL OR (info ->> 'version')::integer IS DISTINCT FROM 1 THEN
        RAISE EXCEPTION 'this is not a central record of version 1 (schema_info: %)', info;
    END IF;
    IF coalesce((info ->> 'revision')::integer, 1) >= 2 THEN
        RAISE NOTICE 'the central record is at revision % already: nothing to do',
            info ->> 'revision';
        RETURN;
    END IF;

    -- Columns with a default: no existing row is rewritten, and older INSERTs stay valid.
    ALTER TABLE schema_info ADD COLUMN revision integer NOT NULL DEFAULT 1;
    ALTER TABLE upgrades ADD COLUMN firmware_key_id text NOT NULL DEFAULT '';
    ALTER TABLE upgrades ADD COLUMN port text NOT NULL DEFAULT '';
    ALTER TABLE upgrades ADD COLUMN serial_shared integer NOT NULL DEFAULT 0
        CHECK (serial_shared IN (0, 1));

    -- As central-record.sql makes it.
    CREATE VIEW outcomes_per_port WITH (security_invoker = true) AS
        SELECT happened_at::date AS day, bench, port, outcome, count(*) AS count
          FROM upgrades
         GROUP BY 1, 2, 3, 4;
    REVOKE ALL ON outcomes_per_port FROM PUBLIC;
    GRANT SELECT ON outcomes_per_port TO orvanta_bench;
    GRANT INSERT (firmware_key_id, port, serial_shared) ON upgrades TO orvanta_bench;

    UPDATE schema_info SET revision = 2;
    RAISE NOTICE 'the central record is at revision 2';
END
$$;

COMMIT;
