// The site server's schema. Everything lives in the schema beamdock, owned by the role
// beamdock_owner; stations log in as roles of beamdock_station, which may read and call the two
// functions below, nothing else. The functions run as the owner (SECURITY DEFINER), with a
// fixed search path so that no object a caller makes can stand in for one of ours.
#include "app/site/SiteSchema.h"

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
  INSERT INTO beamdock.stations(station, public_key, registered_by) VALUES (id, key, session_user)
    ON CONFLICT (station) DO NOTHING;
  SELECT public_key INTO known FROM beamdock.stations WHERE station = id;
  IF known <> key THEN
    RAISE EXCEPTION 'station % is registered with another key', id USING ERRCODE = 'BD006';
  END IF;
  RETURN id;
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
BEGIN
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
      WHERE (n.time, n.server_seq) < (EXCLUDED.time, EXCLUDED.server_seq);
    UPDATE beamdock.head SET server_seq = hd.server_seq + 1, server_hash = link WHERE one = 1;
    UPDATE beamdock.stations SET last_seq = rec_seq, last_hash = digest WHERE station = st.station;
    stored := stored + 1;
  END LOOP;
  RETURN stored;
END $$;

ALTER FUNCTION beamdock.register_station(text) OWNER TO beamdock_owner;
ALTER FUNCTION beamdock.push_records(text[], text[]) OWNER TO beamdock_owner;

-- A station reads and calls the two functions; nothing else, and nobody else.
REVOKE ALL ON SCHEMA beamdock FROM PUBLIC;
GRANT USAGE ON SCHEMA beamdock TO beamdock_station;
REVOKE ALL ON ALL TABLES IN SCHEMA beamdock FROM PUBLIC, beamdock_station;
GRANT SELECT ON ALL TABLES IN SCHEMA beamdock TO beamdock_station;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA beamdock FROM PUBLIC;
GRANT EXECUTE ON FUNCTION beamdock.register_station(text) TO beamdock_station;
GRANT EXECUTE ON FUNCTION beamdock.push_records(text[], text[]) TO beamdock_station;
)sql";
}
