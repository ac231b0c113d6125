#pragma once

#include <cstdint>

namespace velmora::data {

class TDMod;

// The sign-on's record in the login table (oper, through the data module's toper): opens toper when it is
// closed, appends a row stamped with the local time and the session number, posts it and returns the key the
// database gave it (operid). A row that fails is cancelled, so that no half-made record lingers into the next
// attempt; the error goes to the caller. The login, the benchmark and the reliability tests all sign on
// through this one function.
std::int64_t appendLoginRecord(TDMod& dmod, std::int64_t sessionNo);

} // namespace velmora::data
