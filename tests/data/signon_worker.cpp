// Signs on again and again through the data layer's sign-on, as the login does:
// connect ADOCON, open toper, then append a login record and read back its
// operid (appendLoginRecord). Prints "ready" once connected, then each operid on a line of its own,
// flushed, so a test that kills it knows which records were reported. With
// "wait" it reads a line from its input before the first sign-on, so several
// workers can start at one moment.
//   velmora_signon_worker DATABASE COUNT [wait]      (COUNT 0: until killed)
#include "data/module/DMod.h"
#include "data/module/LoginRecord.h"
#include "data/provider/ConnectionString.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "wait")) {
        std::fprintf(stderr, "usage: velmora_signon_worker DATABASE COUNT [wait]\n");
        return 2;
    }
    const std::string database = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    try {
        velmora::data::TDMod dmod("/");
        dmod.ADOCON().setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;User ID=admin;Data Source=" +
                                          velmora::data::quoteValue(database));
        dmod.ADOCON().open();
        dmod.toper().open();
        std::printf("ready\n");
        std::fflush(stdout);
        if (argc == 4)
            while (std::getchar() != '\n') {
            }
        for (long i = 0; count == 0 || i < count; ++i) {
            std::printf("%lld\n", static_cast<long long>(velmora::data::appendLoginRecord(dmod, 1)));
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora_signon_worker: %s\n", e.what());
        return 1;
    }
    return 0;
}
