#include "app/StationKey.h"
#include "tests/support/PgServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using TConn = std::unique_ptr<PGconn, decltype(&PQfinish)>;

std::string Hex(const std::string& bytes) { return HexOf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }

std::string FlipBit(const std::string& hex, size_t byte) {
  std::vector<uint8_t> raw = BytesOfHex(hex);
  raw.at(byte) ^= 0x10;
  return HexOf(raw.data(), raw.size());
}

// The one value of a query with hexadecimal bytea parameters; nullopt for NULL.
std::optional<std::string> Value(PGconn* conn, const std::string& sql, const std::vector<std::string>& params) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  std::unique_ptr<PGresult, decltype(&PQclear)> r(
      PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0),
      &PQclear);
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) throw std::runtime_error(PQresultErrorMessage(r.get()));
  if (PQgetisnull(r.get(), 0, 0)) return std::nullopt;
  return std::string(PQgetvalue(r.get(), 0, 0));
}

TEST(PgSeal, ServerChecksSealsAndSplitsSealedText) {
  TPgServer& server = TPgServer::Shared();
  const std::string db = server.CreateDatabase();
  server.Sql(db, R"(
    CREATE FUNCTION beamdock_ed25519_verify(bytea, bytea, bytea) RETURNS boolean
      AS 'beamdock_seal', 'beamdock_ed25519_verify' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
    CREATE FUNCTION beamdock_sealed_fields(bytea) RETURNS text[]
      AS 'beamdock_seal', 'beamdock_sealed_fields' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;)");
  TConn conn(PQconnectdb(server.ConnInfo(db).c_str()), &PQfinish);
  ASSERT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());

  TempDir dir;
  const TStationKey key = TStationKey::OpenOrCreate(dir.path() + "BEAMDOCK.DB");
  const std::string text = "17:beamdock-record-21:7", message = Hex(text), sig = key.Sign(text);
  const std::string pub = key.PublicHex();
  ASSERT_EQ(pub.size(), 64u);
  struct {
    std::string key, message, sig, want;
  } seals[] = {
      {pub, message, sig, "t"},
      {FlipBit(pub, 5), message, sig, "f"},
      {pub, FlipBit(message, 20), sig, "f"},
      {pub, message, FlipBit(sig, 40), "f"},
      {pub.substr(2), message, sig, "f"},  // 31 bytes: no key
      {pub, message, sig + "00", "f"},     // 65 bytes: no signature
  };
  for (const auto& c : seals) {
    SCOPED_TRACE(c.key + " " + c.message + " " + c.sig);
    EXPECT_EQ(Value(conn.get(), "SELECT beamdock_ed25519_verify(decode($1,'hex'), decode($2,'hex'), decode($3,'hex'))",
                    {c.key, c.message, c.sig}),
              c.want);
  }

  std::string fields64, json64 = "[";
  for (int i = 0; i < 64; ++i) fields64 += "0:", json64 += i ? ",\"\"" : "\"\"";
  const std::string big(999993, 'a');
  const std::optional<std::string> null;
  struct {
    std::string sealed;
    std::optional<std::string> want;  // the fields as JSON
  } splits[] = {
      {"17:beamdock-record-23:abc0:", R"(["beamdock-record-2","abc",""])"},
      {"", "[]"},
      {"2:\xc3\xa9" "1::", R"(["é",":"])"},  // lengths count bytes
      {fields64, json64 + "]"},
      {"999993:" + big, "[\"" + big + "\"]"},  // 1,000,000 bytes in all
      {"999994:" + big + "a", null},
      {fields64 + "0:", null},  // 65 fields
      {":abc", null}, {"x3:abc", null}, {"3:abc ", null}, {"4:abc", null}, {"3:abc2", null}, {"01:a", null},
      {"99999999999999999999999:a", null}, {"3:a\0b"s, null}, {"2:\xff\xfe", null}, {"1:\xc3", null},
  };
  for (const auto& c : splits) {
    SCOPED_TRACE(c.sealed.substr(0, 40));
    EXPECT_EQ(Value(conn.get(), "SELECT array_to_json(beamdock_sealed_fields(decode($1,'hex')))::text", {Hex(c.sealed)}),
              c.want);
  }

  // A restarted server is the same cluster: the functions are still there.
  conn.reset();
  server.Stop();
  EXPECT_THROW(server.Sql(db, "SELECT 1"), std::runtime_error);
  server.Start();
  EXPECT_NO_THROW(server.Sql(db, "SELECT beamdock_sealed_fields('1:a')"));
}

}  // namespace
