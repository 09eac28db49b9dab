// The site server's schema. Everything lives in the schema beamdock, owned by the role
// beamdock_owner; stations log in as roles of beamdock_station, which may read and call the two
// functions below, nothing else. The functions run as the owner (SECURITY DEFINER), with a
// fixed search path so that no object a caller makes can stand in for one of ours.
#include "app/site/SiteSchema.h"

#include "model/Records.h"

#include <cstddef>

const char* SiteRolesSql() {
  return R"sql(
DO $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'beamdock_owner') THEN
    CREATE ROLE beamdock_owner NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'beamdock_station') THEN
    CREATE ROLE beamdock_station NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'beamdock_reader') THEN
    CREATE ROLE beamdock_reader NOLOGIN;
  END IF;
END $$;
CREATE SCHEMA IF NOT EXISTS beamdock AUTHORIZATION beamdock_owner;
-- The seal check is C (the server has no Ed25519 of its own); only a superuser may create it.
CREATE OR REPLACE FUNCTION beamdock.ed25519_verify(bytea, bytea, bytea) RETURNS boolean
  AS 'beamdock_seal', 'beamdock_ed25519_verify' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
CREATE OR REPLACE FUNCTION beamdock.sealed_fields(bytea) RETURNS text[]
  AS 'beamdock_seal', 'beamdock_sealed_fields' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
ALTER FUNCTION beamdock.ed25519_verify(bytea, bytea, bytea) OWNER TO beamdock_owner;
ALTER FUNCTION beamdock.sealed_fields(bytea) OWNER TO beamdock_owner;
)sql";
}

namespace {

// Where the configuration image keeps the calibration and bump intervals.
constexpr size_t kCalIntervalAt = offsetof(RKVTCFG, mSensor) + offsetof(RKVTSensorCFG, mCalInterval);
constexpr size_t kBumpIntervalAt = offsetof(RKVTCFG, mSensor) + offsetof(RKVTSensorCFG, mBumpInterval);

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  return text;
}

std::string FactsSql() {
  return Replace(Replace(R"sql(
-- One row per record, from its sealed text, written by the push that takes the record.
CREATE TABLE beamdock.record_facts(
  server_seq bigint PRIMARY KEY REFERENCES beamdock.records,
  sensor text NOT NULL, product text NOT NULL, operation text NOT NULL, result text NOT NULL,
  technician text NOT NULL, port text NOT NULL, as_found text NOT NULL, as_left text NOT NULL,
  span_gas text NOT NULL, lot text NOT NULL, expiry text NOT NULL, details text NOT NULL,
  recorded_at timestamptz, cal_interval_s bigint, bump_interval_d int);
CREATE TRIGGER record_facts_append_only BEFORE UPDATE OR DELETE ON beamdock.record_facts
  FOR EACH ROW EXECUTE FUNCTION beamdock.refuse_change();
CREATE TRIGGER record_facts_no_truncate BEFORE TRUNCATE ON beamdock.record_facts
  FOR EACH STATEMENT EXECUTE FUNCTION beamdock.refuse_change();
CREATE TRIGGER record_facts_guarded BEFORE INSERT ON beamdock.record_facts
  FOR EACH ROW EXECUTE FUNCTION beamdock.guard_index();

-- A little-endian unsigned number of n bytes at the given place of a configuration image.
CREATE FUNCTION beamdock.image_number(image bytea, at int, n int) RETURNS bigint
LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN octet_length(image) >= at + n
              THEN (SELECT sum(get_byte(image, at + i)::bigint << (8 * i)) FROM generate_series(0, n - 1) AS i)
         END
$$;
-- A record's own time, or NULL when its text is no time (2026-02-30 included).
CREATE FUNCTION beamdock.time_of(text) RETURNS timestamptz LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  RETURN CASE WHEN $1 ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$' THEN $1::timestamptz END;
EXCEPTION WHEN others THEN
  RETURN NULL;
END $$;
-- The facts of one sealed text's fields (as beamdock.sealed_fields splits them), t its time.
CREATE FUNCTION beamdock.facts_of(seq bigint, f text[], t timestamptz) RETURNS beamdock.record_facts
LANGUAGE sql IMMUTABLE AS $$
  SELECT ROW(seq, f[7], f[8], f[12], f[13], f[15], f[17], f[20], f[21], f[22], f[23], f[24], f[25], t,
             beamdock.image_number(decode(f[30], 'hex'), CAL_AT, 4),
             beamdock.image_number(decode(f[30], 'hex'), BUMP_AT, 2)::int)::beamdock.record_facts
$$;
SELECT set_config('beamdock.pushing', 'on', true);
INSERT INTO beamdock.record_facts
  SELECT (beamdock.facts_of(r.server_seq, f, beamdock.time_of(f[4]))).*
  FROM beamdock.records r, LATERAL beamdock.sealed_fields(r.sealed) AS f;
SELECT set_config('beamdock.pushing', 'off', true);

-- Names and columns stay as they are from now on: reporting tools chart them.
CREATE VIEW beamdock.record_view AS
  SELECT r.server_seq, r.server_time::timestamptz AS server_time, r.station, r.seq, r.serial, f.sensor, f.product,
         r.kind, f.operation, f.result, f.technician, f.recorded_at,
         nullif(f.as_found, '') AS as_found, nullif(f.as_left, '') AS as_left, nullif(f.span_gas, '') AS span_gas,
         nullif(f.lot, '') AS lot, nullif(f.expiry, '') AS expiry,
         substring(f.details FROM '(?:^|
)tolerance_pct=([^
]*)') AS tolerance_pct,
         substring(f.details FROM '(?:^|
)temperature=([^
]*)') AS temperature,
         substring(f.details FROM '(?:^|
)peak=([^
]*)') AS bump_peak,
         substring(f.details FROM '(?:^|
)t_low_s=([^
]*)') AS bump_low_s,
         substring(f.details FROM '(?:^|
)t_high_s=([^
]*)') AS bump_high_s,
         substring(f.details FROM '(?:^|
)verdict=([^
]*)') AS bump_verdict
  FROM beamdock.records r JOIN beamdock.record_facts f USING (server_seq);

CREATE VIEW beamdock.event_view AS
  SELECT r.server_seq, r.station, r.serial, f.sensor,
         substring(f.details FROM '(?:^|
)user_id=([^
]*)') AS user_id,
         (CASE WHEN substring(f.details FROM '(?:^|
)start=([^
]*)') ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z$'
               THEN substring(f.details FROM '(?:^|
)start=([^
]*)') END)::timestamptz AS started_at,
         (CASE WHEN substring(f.details FROM '(?:^|
)duration_s=([^
]*)') ~ '^[0-9]{1,9}$'
               THEN substring(f.details FROM '(?:^|
)duration_s=([^
]*)') END)::int AS duration_s,
         substring(f.details FROM '(?:^|
)reading=([^
]*)') AS reading,
         substring(f.details FROM '(?:^|
)low=([^
]*)') = '1' AS low_alarm,
         substring(f.details FROM '(?:^|
)high=([^
]*)') = '1' AS high_alarm,
         substring(f.details FROM '(?:^|
)bump=([^
]*)') = '1' AS bump
  FROM beamdock.records r JOIN beamdock.record_facts f USING (server_seq)
  WHERE r.kind = 'event';

-- Each detector's newest calibration and bump by the server's order, with its due dates from
-- the newest configuration on record, and a status as the fleet gives it (DUE within 7 days).
CREATE VIEW beamdock.fleet_view AS
  WITH v AS (SELECT r.server_seq, r.serial, r.kind, f.sensor, f.result, f.recorded_at, f.cal_interval_s, f.bump_interval_d
             FROM beamdock.records r JOIN beamdock.record_facts f USING (server_seq) WHERE r.serial <> ''),
  cal AS (SELECT DISTINCT ON (serial) serial, recorded_at, result FROM v WHERE kind = 'calibration'
          ORDER BY serial, server_seq DESC),
  bump AS (SELECT DISTINCT ON (serial) serial, recorded_at, result FROM v WHERE kind = 'bump'
           ORDER BY serial, server_seq DESC),
  cfg AS (SELECT DISTINCT ON (serial) serial, cal_interval_s, bump_interval_d FROM v WHERE cal_interval_s IS NOT NULL
          ORDER BY serial, server_seq DESC),
  sensor AS (SELECT DISTINCT ON (serial) serial, sensor FROM v ORDER BY serial, server_seq DESC),
  d AS (SELECT s.serial, s.sensor, cal.recorded_at AS last_calibration, cal.result AS calibration_result,
               CASE WHEN cfg.cal_interval_s > 0 THEN cal.recorded_at + make_interval(secs => cfg.cal_interval_s::double precision) END
                 AS calibration_due,
               bump.recorded_at AS last_bump, bump.result AS bump_result,
               CASE WHEN cfg.bump_interval_d > 0 THEN bump.recorded_at + make_interval(days => cfg.bump_interval_d) END
                 AS bump_due,
               cfg.serial IS NULL AS intervals_unknown,
               coalesce(cfg.cal_interval_s, 1) > 0 AND cal.serial IS NULL AS calibration_never,
               coalesce(cfg.bump_interval_d, 1) > 0 AND bump.serial IS NULL AS bump_never
        FROM sensor s LEFT JOIN cal USING (serial) LEFT JOIN bump USING (serial) LEFT JOIN cfg USING (serial))
  SELECT serial, sensor, last_calibration, calibration_result, calibration_due, last_bump, bump_result, bump_due,
         CASE WHEN (last_calibration IS NOT NULL AND calibration_result <> 'PASS')
                OR (last_bump IS NOT NULL AND bump_result NOT IN ('PASS')) THEN 'FAILED'
              WHEN calibration_due < now() OR bump_due < now() THEN 'OVERDUE'
              WHEN calibration_never OR bump_never OR calibration_due < now() + interval '7 days'
                OR bump_due < now() + interval '7 days' THEN 'DUE'
              ELSE 'OK' END AS status
  FROM d;
ALTER VIEW beamdock.record_view OWNER TO beamdock_owner;
ALTER VIEW beamdock.event_view OWNER TO beamdock_owner;
ALTER VIEW beamdock.fleet_view OWNER TO beamdock_owner;
)sql", "CAL_AT", std::to_string(kCalIntervalAt)), "BUMP_AT", std::to_string(kBumpIntervalAt));
}

}  // namespace

// Migration i takes the schema from version i to i + 1; a new version only adds an entry.
std::vector<std::string> SiteMigrations() {
  return {
      R"sql(
CREATE TABLE beamdock.schema_version(one int PRIMARY KEY CHECK (one = 1), version int NOT NULL);
INSERT INTO beamdock.schema_version VALUES (1, 0);
CREATE TABLE beamdock.stations(
  station text PRIMARY KEY,
  public_key bytea NOT NULL,
  registered_by text NOT NULL,
  registered_at timestamptz NOT NULL DEFAULT now(),
  last_seq bigint NOT NULL DEFAULT 0,
  last_hash text NOT NULL DEFAULT '');
CREATE TABLE beamdock.records(
  server_seq bigint PRIMARY KEY,
  server_time text NOT NULL,
  station text NOT NULL REFERENCES beamdock.stations,
  seq bigint NOT NULL,
  serial text NOT NULL,
  time text NOT NULL,
  kind text NOT NULL,
  hash text NOT NULL,
  signature text NOT NULL,
  sealed bytea NOT NULL,
  has_cfg boolean NOT NULL,
  pushed_by text NOT NULL,
  server_prev text NOT NULL,
  server_hash text NOT NULL,
  UNIQUE (station, seq));
CREATE INDEX records_serial_time ON beamdock.records(serial, time);
-- The fleet wants each detector's newest record of a kind, with and without a configuration:
-- kept as records arrive, so that reading it costs the detectors, not the records.
CREATE TABLE beamdock.newest(
  serial text NOT NULL,
  kind text NOT NULL,
  has_cfg boolean NOT NULL,
  time text NOT NULL,
  server_seq bigint NOT NULL REFERENCES beamdock.records,
  PRIMARY KEY (serial, kind, has_cfg));
CREATE TABLE beamdock.head(one int PRIMARY KEY CHECK (one = 1), server_seq bigint NOT NULL, server_hash text NOT NULL);
INSERT INTO beamdock.head VALUES (1, 0, repeat('0', 64));

-- Not even the owner changes what was taken: records are append-only, a station keeps its key.
CREATE FUNCTION beamdock.refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'beamdock records are append-only' USING ERRCODE = 'BD010';
END $$;
CREATE TRIGGER records_append_only BEFORE UPDATE OR DELETE ON beamdock.records
  FOR EACH ROW EXECUTE FUNCTION beamdock.refuse_change();
CREATE TRIGGER records_no_truncate BEFORE TRUNCATE ON beamdock.records
  FOR EACH STATEMENT EXECUTE FUNCTION beamdock.refuse_change();
CREATE FUNCTION beamdock.keep_station() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'DELETE' OR NEW.station <> OLD.station OR NEW.public_key <> OLD.public_key
     OR NEW.last_seq < OLD.last_seq THEN
    RAISE EXCEPTION 'a station keeps its id, its key and what it sent' USING ERRCODE = 'BD010';
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER stations_kept BEFORE UPDATE OR DELETE ON beamdock.stations
  FOR EACH ROW EXECUTE FUNCTION beamdock.keep_station();

-- Fields with their byte length in front, as the stations seal theirs.
CREATE FUNCTION beamdock.fields(VARIADIC parts text[]) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT coalesce(string_agg(octet_length(p)::text || ':' || p, '' ORDER BY n), '')
  FROM unnest(parts) WITH ORDINALITY AS t(p, n)
$$;
)sql",
      // Admission: a station's key is a request until an administrator admits it, and then only
      // the login that asked pushes for it. Stations already there were admitted by their use.
      R"sql(
ALTER TABLE beamdock.stations ADD COLUMN login text;
UPDATE beamdock.stations SET login = registered_by;
ALTER TABLE beamdock.stations ALTER COLUMN login SET NOT NULL;
ALTER TABLE beamdock.stations ADD COLUMN admitted boolean NOT NULL DEFAULT true;
ALTER TABLE beamdock.stations ALTER COLUMN admitted SET DEFAULT false;
ALTER TABLE beamdock.stations ADD COLUMN admitted_by text;
ALTER TABLE beamdock.stations ADD COLUMN admitted_at timestamptz;
CREATE OR REPLACE FUNCTION beamdock.keep_station() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'DELETE' OR NEW.station <> OLD.station OR NEW.public_key <> OLD.public_key
     OR NEW.last_seq < OLD.last_seq OR NEW.login <> OLD.login OR (OLD.admitted AND NOT NEW.admitted) THEN
    RAISE EXCEPTION 'a station keeps its id, its key, its login, its admission and what it sent' USING ERRCODE = 'BD010';
  END IF;
  RETURN NEW;
END $$;
-- The fleet's index changes only inside a push, so it cannot be made to say what no record does.
CREATE FUNCTION beamdock.guard_index() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF current_setting('beamdock.pushing', true) IS DISTINCT FROM 'on' THEN
    RAISE EXCEPTION 'the fleet index changes only with the records' USING ERRCODE = 'BD010';
  END IF;
  RETURN CASE WHEN TG_OP = 'DELETE' THEN OLD ELSE NEW END;
END $$;
CREATE TRIGGER newest_guarded BEFORE INSERT OR UPDATE OR DELETE ON beamdock.newest
  FOR EACH ROW EXECUTE FUNCTION beamdock.guard_index();
CREATE TRIGGER newest_no_truncate BEFORE TRUNCATE ON beamdock.newest
  FOR EACH STATEMENT EXECUTE FUNCTION beamdock.refuse_change();
CREATE INDEX records_serial_server ON beamdock.records(serial, server_seq);
)sql",
      // What a reporting tool reads: each record's fields decoded once, as it arrives, into a
      // table the views show; the views are all a reader may see.
      FactsSql(),
      // The incident report asks for the event-log entries that began in a period, of one detector
      // or of the site: an entry's start is a line of its sealed details, indexed.
      R"sql(
CREATE FUNCTION beamdock.event_start(sealed bytea) RETURNS text
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
  SELECT substring((beamdock.sealed_fields(sealed))[25] from '(?:^|\n)start=([^\n]*)')
$$;
CREATE INDEX records_event_serial_start ON beamdock.records(serial, beamdock.event_start(sealed)) WHERE kind = 'event';
CREATE INDEX records_event_start ON beamdock.records(beamdock.event_start(sealed)) WHERE kind = 'event';
GRANT EXECUTE ON FUNCTION beamdock.event_start(bytea) TO beamdock_station;
)sql",
      // Due notices: what each recipient was told last, so that however many computers send
      // them a detector is told once per change. Written only by a caller that holds the
      // notices' lock (an advisory lock of its session, so a sender that dies lets go).
      R"sql(
CREATE TABLE beamdock.notice_recipients(
  recipient text PRIMARY KEY,
  noticed_at timestamptz NOT NULL,
  reminded_at timestamptz);
CREATE TABLE beamdock.notice_states(
  recipient text NOT NULL REFERENCES beamdock.notice_recipients,
  serial text NOT NULL,
  state text NOT NULL,
  PRIMARY KEY (recipient, serial));
CREATE FUNCTION beamdock.notices_lock() RETURNS boolean
LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
  SELECT pg_try_advisory_lock(7340022)
$$;
CREATE FUNCTION beamdock.notices_note(who text, reminded boolean, serials text[], states text[]) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND pid = pg_backend_pid() AND granted
                 AND classid = 0 AND objid = 7340022 AND objsubid = 1) THEN
    RAISE EXCEPTION 'notices are noted only under the notices'' lock (beamdock.notices_lock)' USING ERRCODE = 'BD011';
  END IF;
  IF who IS NULL OR who = '' OR length(who) > 400
     OR coalesce(array_length(serials, 1), 0) <> coalesce(array_length(states, 1), 0) THEN
    RAISE EXCEPTION 'not a notice' USING ERRCODE = 'BD011';
  END IF;
  INSERT INTO beamdock.notice_recipients AS n VALUES (who, now(), CASE WHEN reminded THEN now() END)
    ON CONFLICT (recipient) DO UPDATE SET noticed_at = now(),
      reminded_at = CASE WHEN reminded THEN now() ELSE n.reminded_at END;
  DELETE FROM beamdock.notice_states WHERE recipient = who;
  INSERT INTO beamdock.notice_states SELECT who, s, t FROM unnest(serials, states) AS u(s, t);
END $$;
REVOKE ALL ON FUNCTION beamdock.notices_lock(), beamdock.notices_note(text, boolean, text[], text[]) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION beamdock.notices_lock(), beamdock.notices_note(text, boolean, text[], text[])
  TO beamdock_station;
)sql",
  };
}

// Replaced on every run, so that an older server gets the newest checks.
const char* SiteFunctionsSql() {
  return R"sql(
CREATE OR REPLACE FUNCTION beamdock.register_station(public_key_hex text) RETURNS text
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  key bytea;
  id text;
  known bytea;
BEGIN
  IF public_key_hex IS NULL OR public_key_hex !~ '^[0-9a-f]{64}$' THEN
    RAISE EXCEPTION 'not an Ed25519 public key' USING ERRCODE = 'BD006';
  END IF;
  key := decode(public_key_hex, 'hex');
  id := left(encode(sha256(key), 'hex'), 16);
  -- A request, admitted by an administrator (admit_station); an administrator's own registration
  -- is its admission. Never replacing a key.
  INSERT INTO beamdock.stations(station, public_key, registered_by, login, admitted, admitted_by, admitted_at)
    SELECT id, key, session_user, session_user, a, CASE WHEN a THEN session_user END, CASE WHEN a THEN now() END
    FROM (SELECT coalesce((SELECT rolsuper FROM pg_roles WHERE rolname = session_user), false)
                 OR pg_has_role(session_user, 'beamdock_owner', 'MEMBER') AS a) AS admin
    ON CONFLICT (station) DO NOTHING;
  SELECT public_key INTO known FROM beamdock.stations WHERE station = id;
  IF known <> key THEN
    RAISE EXCEPTION 'station % is registered with another key', id USING ERRCODE = 'BD006';
  END IF;
  RETURN id;
END $$;

-- An administrator admits a station that asked: from then on its login pushes its records.
CREATE OR REPLACE FUNCTION beamdock.admit_station(id text) RETURNS text
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  who text;
BEGIN
  UPDATE beamdock.stations SET admitted = true, admitted_by = coalesce(admitted_by, session_user),
                               admitted_at = coalesce(admitted_at, now())
    WHERE station = id RETURNING login INTO who;
  IF NOT FOUND THEN
    RAISE EXCEPTION 'no station % has asked to be admitted', id USING ERRCODE = 'BD008';
  END IF;
  RETURN who;
END $$;

-- Takes a batch of sealed records (hexadecimal) with their signatures, in sequence; returns
-- how many were new. The whole batch is refused at the first record that fails. A batch holds
-- the chain's head for its whole transaction, so one station may not send an endless one.
CREATE OR REPLACE FUNCTION beamdock.push_records(sealed_hex text[], signatures text[]) RETURNS bigint
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  n int := coalesce(array_length(sealed_hex, 1), 0);
  sealed bytea;
  f text[];
  st beamdock.stations%ROWTYPE;
  hd beamdock.head%ROWTYPE;
  digest text;
  rec_seq bigint;
  known text;
  stamp text;
  link text;
  stored bigint := 0;
  rec_time timestamptz;
  admin boolean;
BEGIN
  -- One stuck station stalls nobody for long: these hold for the rest of this transaction,
  -- whatever the login's own settings.
  PERFORM set_config('lock_timeout', '1000', true);
  PERFORM set_config('idle_in_transaction_session_timeout', '1000', true);
  PERFORM set_config('beamdock.pushing', 'on', true);
  SELECT rolsuper INTO admin FROM pg_roles WHERE rolname = session_user;
  IF n <> coalesce(array_length(signatures, 1), 0) THEN
    RAISE EXCEPTION 'records and signatures do not pair up' USING ERRCODE = 'BD001';
  END IF;
  IF n > 1000 THEN
    RAISE EXCEPTION 'a batch holds at most 1000 records, not %', n USING ERRCODE = 'BD001';
  END IF;
  FOR i IN 1 .. n LOOP
    IF sealed_hex[i] IS NULL OR sealed_hex[i] !~ '^([0-9a-f]{2})+$' THEN
      RAISE EXCEPTION 'record % of the batch is not a sealed record', i USING ERRCODE = 'BD001';
    END IF;
    sealed := decode(sealed_hex[i], 'hex');
    f := beamdock.sealed_fields(sealed);
    IF f IS NULL OR coalesce(array_length(f, 1), 0) <> 30 OR f[1] <> 'beamdock-record-2'
       OR f[26] !~ '^[1-9][0-9]{0,17}$' THEN
      RAISE EXCEPTION 'record % of the batch is not a sealed record', i USING ERRCODE = 'BD001';
    END IF;
    rec_seq := f[26]::bigint;
    SELECT * INTO st FROM beamdock.stations WHERE station = f[2] FOR UPDATE;
    IF NOT FOUND THEN
      RAISE EXCEPTION 'station % is not registered with this server', f[2] USING ERRCODE = 'BD002';
    END IF;
    IF NOT st.admitted THEN
      RAISE EXCEPTION 'station % is not admitted: an administrator runs beamdock-cli records admit-station %',
        st.station, st.station USING ERRCODE = 'BD008';
    END IF;
    IF st.login <> session_user AND NOT coalesce(admin, false) THEN
      RAISE EXCEPTION 'login % may not push for station %, which login % asked for', session_user, st.station, st.login
        USING ERRCODE = 'BD008';
    END IF;
    -- The server's clock and number order the site: a record from the future is refused.
    rec_time := beamdock.time_of(f[4]);
    IF rec_time IS NULL THEN
      RAISE EXCEPTION 'record % of station %: its time "%" is not a time', rec_seq, f[2], left(f[4], 40)
        USING ERRCODE = 'BD007';
    END IF;
    IF rec_time > clock_timestamp() + interval '10 minutes' THEN
      RAISE EXCEPTION 'record % of station % is dated %, more than 10 minutes ahead of the server''s clock (%): the station''s clock is wrong',
        rec_seq, f[2], f[4], to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"')
        USING ERRCODE = 'BD007';
    END IF;
    digest := encode(sha256(sealed), 'hex');
    IF signatures[i] IS NULL OR signatures[i] !~ '^[0-9a-f]{128}$'
       OR NOT beamdock.ed25519_verify(st.public_key, convert_to(digest, 'UTF8'), decode(signatures[i], 'hex')) THEN
      RAISE EXCEPTION 'record % of station %: its seal is not the station''s', rec_seq, st.station
        USING ERRCODE = 'BD003';
    END IF;
    IF rec_seq <= st.last_seq THEN
      SELECT hash INTO known FROM beamdock.records WHERE station = st.station AND seq = rec_seq;
      IF known = digest THEN
        CONTINUE;  -- sent before: kept once
      END IF;
      RAISE EXCEPTION 'record % of station % is not the one the station sent before: its store was rolled back or replaced',
        rec_seq, st.station USING ERRCODE = 'BD004';
    END IF;
    IF rec_seq <> st.last_seq + 1 OR (st.last_seq > 0 AND f[3] <> st.last_hash) THEN
      RAISE EXCEPTION 'record % of station % does not follow its record %', rec_seq, st.station, st.last_seq
        USING ERRCODE = 'BD005';
    END IF;
    SELECT * INTO hd FROM beamdock.head WHERE one = 1 FOR UPDATE;
    stamp := to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.US"Z"');
    link := encode(sha256(convert_to(beamdock.fields(hd.server_hash, (hd.server_seq + 1)::text, stamp,
                                                     st.station, digest, signatures[i]), 'UTF8')), 'hex');
    INSERT INTO beamdock.records(server_seq, server_time, station, seq, serial, time, kind, hash, signature,
                                 sealed, has_cfg, pushed_by, server_prev, server_hash)
      VALUES (hd.server_seq + 1, stamp, st.station, rec_seq, f[6], f[4], f[11], digest, signatures[i],
              sealed, f[30] <> '', session_user, hd.server_hash, link);
    INSERT INTO beamdock.newest AS n VALUES (f[6], f[11], f[30] <> '', f[4], hd.server_seq + 1)
      ON CONFLICT (serial, kind, has_cfg) DO UPDATE SET time = EXCLUDED.time, server_seq = EXCLUDED.server_seq
      WHERE n.server_seq < EXCLUDED.server_seq;
    INSERT INTO beamdock.record_facts SELECT (beamdock.facts_of(hd.server_seq + 1, f, rec_time)).*;
    UPDATE beamdock.head SET server_seq = hd.server_seq + 1, server_hash = link WHERE one = 1;
    UPDATE beamdock.stations SET last_seq = rec_seq, last_hash = digest WHERE station = st.station;
    stored := stored + 1;
  END LOOP;
  RETURN stored;
END $$;

ALTER FUNCTION beamdock.register_station(text) OWNER TO beamdock_owner;
ALTER FUNCTION beamdock.push_records(text[], text[]) OWNER TO beamdock_owner;
ALTER FUNCTION beamdock.admit_station(text) OWNER TO beamdock_owner;

-- A station reads and calls the two functions; nothing else, and nobody else. A reader (a
-- reporting tool's login) reads the three views and nothing else.
REVOKE ALL ON SCHEMA beamdock FROM PUBLIC;
GRANT USAGE ON SCHEMA beamdock TO beamdock_station, beamdock_reader;
REVOKE ALL ON ALL TABLES IN SCHEMA beamdock FROM PUBLIC, beamdock_station, beamdock_reader;
GRANT SELECT ON ALL TABLES IN SCHEMA beamdock TO beamdock_station;
GRANT SELECT ON beamdock.record_view, beamdock.event_view, beamdock.fleet_view TO beamdock_reader;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA beamdock FROM PUBLIC;
GRANT EXECUTE ON FUNCTION beamdock.register_station(text) TO beamdock_station;
GRANT EXECUTE ON FUNCTION beamdock.push_records(text[], text[]) TO beamdock_station;
)sql";
}
