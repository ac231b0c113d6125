// velmora-bench-read: a bare client of the engine that reads the six tables the program opens at start-up,
// every value, and ends: the floor of bench/outside.sh, timed and weighed from outside as the program is.
//
//     velmora-bench-read FILE|URI
//
// Prints "rows N" and "value-bytes N" (counted as velmora-bench counts them).

#include "bench/Floors.h"

#include "data/engines/PgBackend.h"

#include <cstdio>
#include <exception>

namespace {

constexpr const char* startupTables[] = {"oper", "OperatorTable", "ypzdk", "kc", "partment", "company"};

} // namespace

int main(int argc, char** argv)
{
    using namespace velmora::bench;
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora-bench-read FILE|URI\n");
        return 2;
    }
    try {
        std::size_t rows = 0, bytes = 0;
        std::uint64_t checksum = 0;
        const auto add = [&](const FloorRead& r) {
            rows += r.rows;
            bytes += r.valueBytes;
            checksum += r.checksum;
        };
        if (velmora::data::isServerSource(argv[1])) {
            PgHandle server = connectBare(argv[1]);
            for (const char* table : startupTables)
                add(readAllServer(server.get(), table));
        } else {
            sqlite3* raw = nullptr;
            const int rc = sqlite3_open_v2(argv[1], &raw, SQLITE_OPEN_READONLY, nullptr);
            velmora::data::SqliteHandle db(raw);
            if (rc != SQLITE_OK)
                throw DatabaseError(std::string("cannot open ") + argv[1]);
            for (const char* table : startupTables)
                add(readAll(db.get(), table));
        }
        std::printf("rows %zu\nvalue-bytes %zu\nchecksum %llu\n", rows, bytes,
                    static_cast<unsigned long long>(checksum));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-bench-read: %s\n", e.what());
        return 1;
    }
    return 0;
}
