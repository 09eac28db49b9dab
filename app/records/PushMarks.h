// What this computer knows of its pushes to the site server without asking it: the last record
// the server took, the last push's failure, and so what waits. Files beside the store, read
// without a connection, so that a command that needs no server links no server client.
#pragma once

#include <cstdint>
#include <string>

// The mark names its station: a store replaced by a new one (another key) beside an old mark
// has pushed nothing yet. Given station, a mark of another one (or of none) counts as 0.
int64_t PushedMark(const std::string& storePath, const std::string& station = "");
// Only a count for the status line and a witness of what the server took: the server decides
// what it holds, so a mark lost or behind costs nothing but a wrong count until the next push.
void WritePushedMark(const std::string& storePath, int64_t seq, const std::string& station);
// Where a push that failed leaves its reason for the next command.
std::string PushFailureFile(const std::string& storePath);
// Why the last push failed; empty when it did not, or none ran.
std::string LastPushFailure(const std::string& storePath);
// The records of this store that wait to be sent: the store's last sequence number above its
// pushed mark, and the outbox. No connection.
int64_t WaitingRecords(const std::string& storePath);
