// Stored operator passwords of any form: telling a hash from plain text
// never fails, plain text matches exactly itself after trimming, and text that
// begins like a hash but is none matches nothing. Hashes are not verified here
// (each verification costs a tenth of a second).
#include "data/dataset/Field.h"
#include "data/engines/PasswordHash.h"
#include "data/module/OperatorPassword.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>

using namespace velmora::data;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string stored(reinterpret_cast<const char*>(data), size);
    if (isOperatorPasswordHash(stored)) {
        FUZZ_CHECK(text::trimSpacesAndAsciiControls(stored).rfind("$argon2id$", 0) == 0);
        return 0;
    }
    if (text::trimSpacesAndAsciiControls(stored).starts_with(Argon2Tag)) {
        FUZZ_CHECK(!operatorPasswordMatches(stored, stored));
        return 0;
    }
    FUZZ_CHECK(operatorPasswordMatches(stored, stored));
    FUZZ_CHECK(operatorPasswordMatches(stored, " " + stored + "\t"));
    FUZZ_CHECK(operatorPasswordMatches(stored, text::trimSpacesAndAsciiControls(stored) + "x") == false);
    return 0;
}
