// velmora-bench: measures what must stay fast as a shop's data grows, each figure against the least the work
// could cost (its floor), and prints them as one table. bench/run.sh makes the databases and runs it.

#include "bench/Floors.h"

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/Text.h"
#include "data/dataset/Dataset.h"
#include "data/dataset/Field.h"
#include "data/engines/CommandText.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SqliteBackend.h"
#include "data/module/DMod.h"
#include "data/module/LoginRecord.h"
#include "data/provider/ConnectionString.h"
#include "splash/RevealAnimation.h"
#include "splash/Tfac.h"

#include <QApplication>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <malloc.h>
#include <map>
#include <optional>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::data;
using namespace velmora::bench;

const char* const usageText = R"(Usage: velmora-bench --db FILE [OPTIONS]

  --db FILE            the large database: the six start-up tables and the sign-on at its login count
  --signon-db FILE     a database with few login records, for the sign-on at that count
  --demo-db FILE       the demo database, for the start-up time
  --startup-exe FILE   velmora-bench-startup (default: beside this program)
  --db-password P      database password of every file (default mivotelq)
  --runs N             repetitions of each opening and of the splash (default 5)
  --signons N          sign-ons per measurement (default 200)
  --first-signons N    sign-ons right after opening the login table (default 10)
  --startup-runs N     start-ups per database (default 5)
  --server URI         the large shop on a PostgreSQL server (velmora-bench-generate --load): the same
                       start-up datasets, memory, sign-on, eight tills and connect, against libpq's floors
  --signon-server URI  the shop with few login records on the server
  --tills N            tills signing on at once against the server (default 8)
  --till-signons N     sign-ons of each till (default 500)
  --only LIST          sections to run, of open,memory,totals,signon,splash,startup,tills (default all)
)";

struct Options
{
    std::string db, signonDb, demoDb, startupExe, password = "mivotelq";
    std::string server, signonServer;
    int runs = 5, signons = 200, firstSignons = 10, startupRuns = 5, tills = 8, tillSignOns = 500;
    std::string only = "open,memory,totals,signon,splash,startup,tills";
    bool wants(std::string_view section) const
    {
        return ("," + only + ",").find("," + std::string(section) + ",") != std::string::npos;
    }
};

// ---- measuring ----------------------------------------------------------------------------------------------

std::int64_t nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct Sample
{
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double median() const
    {
        if (values.empty())
            return 0;
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double min() const { return values.empty() ? 0 : *std::min_element(values.begin(), values.end()); }
    double max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

template <class F> double timeMs(F&& work)
{
    const std::int64_t start = nowNs();
    work();
    return static_cast<double>(nowNs() - start) / 1e6;
}

std::int64_t threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Wall time, and the CPU time of this thread, which other programs' load on a shared machine disturbs less.
template <class F> void timeBoth(Sample& wall, Sample& cpu, F&& work)
{
    const std::int64_t start = nowNs(), startCpu = threadCpuNs();
    work();
    cpu.add(static_cast<double>(threadCpuNs() - startCpu) / 1e6);
    wall.add(static_cast<double>(nowNs() - start) / 1e6);
}

// ---- the table ------------------------------------------------------------------------------------------------

struct Row
{
    std::string figure;
    std::string measured;
    std::string floor;
    double ratio = 0; // 0: none
    double goal = 0;  // 0: none
    std::string spread;
};

std::vector<Row> table;

std::string fmt(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string ms(double value)
{
    return fmt(value < 10 ? "%.3f ms" : "%.1f ms", value);
}

std::string us(double valueMs)
{
    return fmt("%.1f us", valueMs * 1000);
}

std::string mib(double bytes)
{
    return fmt("%.1f MiB", bytes / (1024.0 * 1024.0));
}

std::string spreadMs(const Sample& s, bool micro = false)
{
    if (micro)
        return "n=" + std::to_string(s.values.size()) + " " + fmt("%.1f", s.min() * 1000) + "-" +
               fmt("%.1f us", s.max() * 1000);
    return "n=" + std::to_string(s.values.size()) + " " + fmt("%.1f", s.min()) + "-" + fmt("%.1f ms", s.max());
}

void addRow(Row row)
{
    std::printf("  %-52s %12s  floor %12s  ratio %6s  goal %6s %s\n", row.figure.c_str(), row.measured.c_str(),
                row.floor.c_str(), row.ratio > 0 ? fmt("%.2f", row.ratio).c_str() : "-",
                row.goal > 0 ? fmt("<=%.1f", row.goal).c_str() : "-",
                row.goal > 0 ? (row.ratio <= row.goal ? "met" : "MISSED") : "");
    std::fflush(stdout);
    table.push_back(std::move(row));
}

void printTable()
{
    std::printf("\n| figure | measured (median) | floor (median) | ratio | goal | | spread of measured |\n");
    std::printf("|---|---:|---:|---:|---:|---|---|\n");
    for (const Row& row : table)
        std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", row.figure.c_str(), row.measured.c_str(),
                    row.floor.c_str(), row.ratio > 0 ? fmt("%.2f", row.ratio).c_str() : "-",
                    row.goal > 0 ? fmt("<= %.1f", row.goal).c_str() : "-",
                    row.goal > 0 ? (row.ratio <= row.goal ? "met" : "**missed**") : "", row.spread.c_str());
}

// ---- the database ------------------------------------------------------------------------------------------------

std::string connectionStringFor(const std::string& file, const std::string& password)
{
    return toolConnectionString(fs::absolute(file).string(), "Admin", password);
}

// A plain SQLite connection as the provider makes one, for the floors.
SqliteHandle openPlain(const std::string& file)
{
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(fs::absolute(file).c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK)
        throw DatabaseError("cannot open " + file);
    sqlite3_busy_timeout(db.get(), BusyTimeoutMs);
    return db;
}

void exec(sqlite3* db, const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "?";
        sqlite3_free(error);
        throw DatabaseError(text);
    }
}

std::int64_t scalar(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw DatabaseError(sqlite3_errmsg(db));
    SqliteStatement s(raw);
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : 0;
}

// ---- memory ------------------------------------------------------------------------------------------------------

std::size_t heapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd; // small chunks in use + chunks mapped on their own
}

std::size_t statusKb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::strtoull(line.c_str() + std::strlen(key), nullptr, 10);
    return 0;
}

// Starts the peak resident size afresh (VmHWM), where the kernel lets us.
bool resetPeakRss()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

// ---- the start-up datasets -------------------------------------------------------------------------------------

struct StartupDataset
{
    const char* name;  // in DMod
    const char* table; // what it reads
};

constexpr StartupDataset startupDatasets[] = {
    {"toper", "oper"}, {"tuser", "OperatorTable"}, {"typzdk", "ypzdk"},
    {"tkc", "kc"},     {"tbm", "partment"},        {"tdw", "company"},
};

std::unique_ptr<TDMod> connectedModule(const std::string& file, const std::string& password)
{
    auto dmod = std::make_unique<TDMod>(fs::absolute(file).parent_path().string() + "/");
    dmod->ADOCON().setConnectionString(connectionStringFor(file, password));
    dmod->ADOCON().open();
    return dmod;
}

// ---- totals --------------------------------------------------------------------------------------------------

// The stock totalled by drug, as the sales statistics (txstj) total a shop's sales lines: the large shop has no
// sales lines, so its million stock rows stand in, summed per drug.
const char* const stockTotals = "select c.名称,c.编号 as 生产批号,sum(b.数量) as 库存数量,sum(b.购进金额) as 购进金额, "
                                "avg(b.购进单价) as 平均进价, "
                                "c.id as 药品标识号  from kc b ,ypzdk c where b.ypid=c.id  group by c.名称,c.id,c.编号";

// The same sums over the whole stock at once: the aggregates' own cost, without the join and the grouping.
const char* const wholeStockTotals =
    "select sum(数量) as 库存数量, sum(购进金额) as 购进金额, avg(购进单价) as 平均进价 from kc";

// Opens a total `runs` times as a dataset of the data module's connection, against the floor's reading of the
// same text (the engine's own sum and avg on the file); `floor` reads it once.
void benchTotal(const Options& o, TDMod& dmod, const std::string& label, const std::string& text,
                const std::function<FloorRead()>& floor)
{
    Dataset totals("totals", dmod.ADOCON(), DatasetSettings{}, text);
    Sample opened, floorTime, openedCpu, floorCpu;
    std::uint64_t sink = 0;
    std::size_t rows = 0;
    for (int run = 0; run < o.runs; ++run) {
        timeBoth(opened, openedCpu, [&] { totals.open(); });
        sink += static_cast<std::uint64_t>(totals.recordCount());
        totals.close();
        timeBoth(floorTime, floorCpu, [&] {
            const FloorRead r = floor();
            rows = r.rows;
            sink += r.checksum;
        });
    }
    addRow({label + " (" + std::to_string(rows) + (rows == 1 ? " row)" : " rows)"), ms(opened.median()),
            ms(floorTime.median()), opened.median() / floorTime.median(), 0,
            spreadMs(opened) + fmt(", cpu ratio %.2f", openedCpu.median() / floorCpu.median())});
    if (sink == 42)
        std::printf(" ");
}

// Both totals, through `read` for the floor.
void benchTotals(const Options& o, TDMod& dmod, const std::string& prefix,
                 const std::function<FloorRead(const std::string&)>& read)
{
    const std::string byDrug = stockTotals, whole = wholeStockTotals;
    benchTotal(o, dmod, prefix + "total the stock by drug, txstj-style", byDrug, [&] { return read(byDrug); });
    benchTotal(o, dmod, prefix + "  the same sums over the whole stock", whole, [&] { return read(whole); });
}

// ---- sign-on -----------------------------------------------------------------------------------------------------

// TFlogin::completeSignOn's database work, without its windows: the operator's number, then the login record.
std::int64_t signOn(TDMod& dmod)
{
    const std::string operatorId = dmod.tuser().fieldByName("userid").asString();
    return appendLoginRecord(dmod, 1) + static_cast<std::int64_t>(operatorId.size());
}

// ---- the server ----------------------------------------------------------------------------------------------

std::string serverConnectionString(const std::string& uri)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=;Data Source=" + quoteValue(uri);
}

std::unique_ptr<TDMod> connectedServerModule(const std::string& uri)
{
    auto dmod = std::make_unique<TDMod>(fs::temp_directory_path().string() + "/");
    dmod->ADOCON().setConnectionString(serverConnectionString(uri));
    dmod->ADOCON().open();
    return dmod;
}

PgResult exec(PGconn* c, const std::string& sql, ExecStatusType expected)
{
    PgResult r(PQexec(c, sql.c_str()));
    if (PQresultStatus(r.get()) != expected)
        throw DatabaseError(PQerrorMessage(c));
    return r;
}

std::int64_t scalar(PGconn* c, const std::string& sql)
{
    const PgResult r = exec(c, sql, PGRES_TUPLES_OK);
    return PQntuples(r.get()) ? std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10) : 0;
}

// The sign-on's floor on the server: one prepared INSERT … RETURNING of the login record.
class ServerSignOnFloor
{
public:
    explicit ServerSignOnFloor(PGconn* connection) : m_connection(connection)
    {
        PgResult prepared(PQprepare(connection, "signon",
                                    "INSERT INTO oper (\"登录时间\", \"userid\") VALUES ($1, $2) RETURNING operid", 2,
                                    nullptr));
        if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
            throw DatabaseError(PQerrorMessage(connection));
    }

    std::int64_t signOn()
    {
        const std::string at = DateTime::nowLocal().toString();
        const char* values[] = {at.c_str(), "1"};
        PgResult r(PQexecPrepared(m_connection, "signon", 2, values, nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            throw DatabaseError(PQerrorMessage(m_connection));
        return std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
    }

private:
    PGconn* m_connection;
};

// ---- a shop on either engine -------------------------------------------------------------------------------------

// What the measurements of a shop differ in between a database file and a server: how the program and its floor
// connect, and how the floor reads, totals and signs on. One body measures each figure on both; the floor's bare
// connection is opened with the shop and used by every floor.
class Shop
{
public:
    virtual ~Shop() = default;

    bool onServer() const { return m_onServer; }
    // The database for headings: the file, or the server's URI without its password.
    const std::string& place() const { return m_place; }
    // Before each figure's label: "server: " on the server.
    std::string prefix() const { return m_onServer ? "server: " : ""; }

    virtual std::unique_ptr<TDMod> connectModule() const = 0;
    virtual std::string connectionString() const = 0;
    // The connect figure's label (after the prefix) and its floor.
    virtual std::string connectFigure() const = 0;
    virtual void connectFloor() const = 0;
    // What a value counts as in the memory figures' floor.
    virtual std::string valuesNote() const = 0;

    virtual FloorRead readTable(const std::string& table) = 0;
    // A total as the floor reads it, from the text the data module's dataset opens.
    virtual FloorRead readTotal(TDMod& dmod, const std::string& text) = 0;
    virtual std::int64_t scalar(const std::string& sql) = 0;
    virtual void execute(const std::string& sql) = 0;

    // The sign-on's floor, one login record; prepared once before the first.
    virtual void prepareFloorSignOn() = 0;
    virtual std::int64_t floorSignOn() = 0;
    // Before each first sign-on's floor, right after the program's dataset read the login table: what the floor
    // reads to be in the same state (a checksum, so that nothing is optimised away).
    virtual std::uint64_t readBeforeFirstSignOn() = 0;
    // Makes writes stop waiting for the disk on both the program's and the floor's connections, where the engine
    // lets a client do that, and returns what undoes it; empty where it cannot.
    virtual std::function<void()> withoutFsync(TDMod&) { return {}; }

protected:
    Shop(bool onServer, std::string place) : m_onServer(onServer), m_place(std::move(place)) {}

private:
    bool m_onServer;
    std::string m_place;
};

class FileShop final : public Shop
{
public:
    FileShop(std::string file, std::string password)
        : Shop(false, file), m_file(std::move(file)), m_password(std::move(password)), m_plain(openPlain(m_file))
    {
    }

    std::unique_ptr<TDMod> connectModule() const override { return connectedModule(m_file, m_password); }
    std::string connectionString() const override { return connectionStringFor(m_file, m_password); }
    // Connecting checks the database password (Argon2id), once per start.
    std::string connectFigure() const override { return "connect (provider, password verifier)"; }
    void connectFloor() const override
    {
        SqliteHandle db = openPlain(m_file);
        ::scalar(db.get(), "SELECT count(*) FROM sqlite_master");
    }
    std::string valuesNote() const override { return "values: 8 B/number, text bytes, 1 B/boolean"; }

    FloorRead readTable(const std::string& table) override { return readAll(m_plain.get(), table); }
    FloorRead readTotal(TDMod&, const std::string& text) override { return readQuery(m_plain.get(), text); }
    std::int64_t scalar(const std::string& sql) override { return ::scalar(m_plain.get(), sql); }
    void execute(const std::string& sql) override { exec(m_plain.get(), sql); }

    void prepareFloorSignOn() override
    {
        sqlite3_stmt* raw = nullptr;
        const char* insertSql = "INSERT INTO oper (\"登录时间\", \"userid\") VALUES (?1, ?2)";
        if (sqlite3_prepare_v2(m_plain.get(), insertSql, -1, &raw, nullptr) != SQLITE_OK)
            throw DatabaseError(sqlite3_errmsg(m_plain.get()));
        m_insert.reset(raw);
    }
    std::int64_t floorSignOn() override
    {
        const std::string at = DateTime::nowLocal().toString();
        sqlite3_bind_text(m_insert.get(), 1, at.data(), static_cast<int>(at.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(m_insert.get(), 2, "1", 1, SQLITE_STATIC);
        if (sqlite3_step(m_insert.get()) != SQLITE_DONE)
            throw DatabaseError(sqlite3_errmsg(m_plain.get()));
        sqlite3_reset(m_insert.get());
        return sqlite3_last_insert_rowid(m_plain.get());
    }
    // SQLite's own first write after a full scan costs more, so the floor reads the table first too.
    std::uint64_t readBeforeFirstSignOn() override { return readAll(m_plain.get(), "oper").rows; }
    std::function<void()> withoutFsync(TDMod& dmod) override
    {
        auto* backend = dynamic_cast<SqliteBackend*>(&dmod.ADOCON().backend());
        if (!backend)
            return {};
        const std::string durable = std::to_string(::scalar(backend->handle(), "PRAGMA synchronous"));
        exec(backend->handle(), "PRAGMA synchronous=OFF");
        exec(m_plain.get(), "PRAGMA synchronous=OFF");
        return [this, backend, durable] {
            exec(backend->handle(), "PRAGMA synchronous=" + durable);
            exec(m_plain.get(), "PRAGMA synchronous=" + durable);
        };
    }

private:
    std::string m_file;
    std::string m_password;
    SqliteHandle m_plain;
    SqliteStatement m_insert;
};

class ServerShop final : public Shop
{
public:
    explicit ServerShop(std::string uri)
        : Shop(true, redactedServerUri(uri)), m_uri(std::move(uri)), m_plain(connectBare(m_uri))
    {
    }

    std::unique_ptr<TDMod> connectModule() const override { return connectedServerModule(m_uri); }
    std::string connectionString() const override { return serverConnectionString(m_uri); }
    // The program's connect (provider, catalogue) against a bare PQconnectdb, both with the role's password
    // checked by the server (scram-sha-256 over TCP).
    std::string connectFigure() const override { return "connect (provider) vs bare PQconnectdb"; }
    void connectFloor() const override { connectBare(m_uri); }
    std::string valuesNote() const override { return "values: 8 B/number or time, text bytes, 1 B/boolean"; }

    FloorRead readTable(const std::string& table) override { return readAllServer(m_plain.get(), table); }
    FloorRead readTotal(TDMod& dmod, const std::string& text) override
    {
        auto& backend = dynamic_cast<PgBackend&>(dmod.ADOCON().backend());
        return readQueryServer(m_plain.get(), backend.adaptCommand(text));
    }
    std::int64_t scalar(const std::string& sql) override { return ::scalar(m_plain.get(), sql); }
    void execute(const std::string& sql) override { exec(m_plain.get(), sql, PGRES_COMMAND_OK); }

    void prepareFloorSignOn() override { m_floor.emplace(m_plain.get()); }
    std::int64_t floorSignOn() override { return m_floor->signOn(); }
    std::uint64_t readBeforeFirstSignOn() override { return 0; }

private:
    std::string m_uri;
    PgHandle m_plain;
    std::optional<ServerSignOnFloor> m_floor;
};

void benchOpenAndMemory(const Options& o, Shop& shop)
{
    std::printf(shop.onServer() ? "\nStart-up datasets on the server (%s)\n" : "\nStart-up datasets of %s\n",
                shop.place().c_str());
    const std::string prefix = shop.prefix();
    auto dmod = shop.connectModule();

    // Memory first, on a heap the timing loops have not yet churned. The tables are read once before, so the
    // caches are warm for both.
    std::map<std::string, FloorRead> floors;
    for (const StartupDataset& d : startupDatasets)
        floors[d.table] = shop.readTable(d.table);
    if (o.wants("memory")) {
        const std::size_t heapBefore = heapInUse();
        const bool peakKnown = resetPeakRss();
        const std::size_t rssBeforeKb = statusKb("VmRSS:");
        for (const StartupDataset& d : startupDatasets)
            dmod->dataset(d.name).open();
        const std::size_t peakKb = statusKb("VmHWM:");
        const std::size_t heapAfter = heapInUse();
        const std::size_t rssAfterKb = statusKb("VmRSS:");
        std::size_t rowBytes = 0, values = 0, rows = 0;
        for (const StartupDataset& d : startupDatasets) {
            rowBytes += dmod->dataset(d.name).rowBytes();
            values += floors[d.table].valueBytes;
            rows += floors[d.table].rows;
        }
        const double held = static_cast<double>(heapAfter - heapBefore);
        const double peak = (static_cast<double>(peakKb) - static_cast<double>(rssBeforeKb)) * 1024;
        std::printf("  %zu rows; values %s; row stores %s; heap held %s; resident held %s; resident peak %s\n", rows,
                    mib(static_cast<double>(values)).c_str(), mib(static_cast<double>(rowBytes)).c_str(),
                    mib(held).c_str(), mib((static_cast<double>(rssAfterKb) - rssBeforeKb) * 1024).c_str(),
                    peakKnown ? mib(peak).c_str() : "unknown");
        addRow({prefix + "memory held by the six open datasets (heap)", mib(held), mib(static_cast<double>(values)),
                held / static_cast<double>(values), 1.5, shop.valuesNote()});
        addRow({prefix + "  of which row stores (rowBytes())", mib(static_cast<double>(rowBytes)),
                mib(static_cast<double>(values)), static_cast<double>(rowBytes) / static_cast<double>(values), 0, ""});
        if (peakKnown)
            addRow({prefix + "peak resident growth while opening the six", mib(peak), mib(static_cast<double>(values)),
                    peak / static_cast<double>(values), 1.5, "VmHWM - VmRSS before"});
        for (const StartupDataset& d : startupDatasets)
            dmod->dataset(d.name).close();
    }
    if (!o.wants("open"))
        return;

    Sample connect, connectFloor;
    const std::string connection = shop.connectionString();
    for (int run = 0; run < o.runs; ++run) {
        connect.add(timeMs([&] { connectProvider(connection, "/"); }));
        connectFloor.add(timeMs([&] { shop.connectFloor(); }));
    }
    addRow({prefix + shop.connectFigure(), ms(connect.median()), ms(connectFloor.median()),
            connect.median() / connectFloor.median(), 0, spreadMs(connect)});

    // Interleaved, so that a burst of load from elsewhere hits both alike.
    std::map<std::string, Sample> opened, floor, openedCpu, floorCpu;
    std::uint64_t sink = 0;
    for (int run = 0; run < o.runs; ++run) {
        for (const StartupDataset& d : startupDatasets) {
            Dataset& dataset = dmod->dataset(d.name);
            timeBoth(opened[d.name], openedCpu[d.name], [&] { dataset.open(); });
            sink += static_cast<std::uint64_t>(dataset.recordCount());
            dataset.close();
            timeBoth(floor[d.name], floorCpu[d.name], [&] { sink += shop.readTable(d.table).checksum; });
        }
    }
    double totalOpened = 0, totalFloor = 0, totalOpenedCpu = 0, totalFloorCpu = 0;
    for (const StartupDataset& d : startupDatasets) {
        const double a = opened[d.name].median(), b = floor[d.name].median();
        const double ac = openedCpu[d.name].median(), bc = floorCpu[d.name].median();
        totalOpened += a;
        totalFloor += b;
        totalOpenedCpu += ac;
        totalFloorCpu += bc;
        addRow({prefix + "  open " + d.name + " (" + std::to_string(floors[d.table].rows) + " rows)", ms(a), ms(b),
                b > 0 ? a / b : 0, 0, spreadMs(opened[d.name]) + fmt(", cpu ratio %.2f", bc > 0 ? ac / bc : 0)});
    }
    // This process's CPU only: a server's own work is the same for both and runs beside it.
    addRow({prefix + "open the six start-up datasets (sum of medians)", ms(totalOpened), ms(totalFloor),
            totalOpened / totalFloor, 1.2,
            fmt("cpu %.1f ms", totalOpenedCpu) + fmt(" / %.1f ms", totalFloorCpu) +
                fmt(" = %.2f", totalOpenedCpu / totalFloorCpu)});
    if (sink == 42)
        std::printf(" ");
}

void benchTotals(const Options& o, Shop& shop)
{
    std::printf(shop.onServer() ? "\nTotals on the server (%s)\n" : "\nTotals on %s\n", shop.place().c_str());
    auto dmod = shop.connectModule();
    benchTotals(o, *dmod, shop.prefix(), [&](const std::string& text) { return shop.readTotal(*dmod, text); });
}

void benchSignOn(const Options& o, Shop& shop)
{
    const std::int64_t lastBefore = shop.scalar("SELECT coalesce(max(operid), 0) FROM oper");
    const std::int64_t count = shop.scalar("SELECT count(*) FROM oper");
    std::printf(shop.onServer() ? "\nSign-on on the server with %lld login records (%s)\n"
                                : "\nSign-on with %lld login records (%s)\n",
                static_cast<long long>(count), shop.place().c_str());
    const std::string label = std::to_string(count) + " records";
    {
        auto dmod = shop.connectModule();
        dmod->tuser().open();
        dmod->toper().open();
        shop.prepareFloorSignOn();

        std::int64_t sink = 0;
        auto measure = [&](const std::string& variant) {
            // Right after opening, as the program signs on once per start: the first append after the open.
            Sample first, firstFloor;
            for (int i = 0; i < o.firstSignons; ++i) {
                dmod->toper().close();
                dmod->toper().open();
                first.add(timeMs([&] { sink += signOn(*dmod); }));
                sink += static_cast<std::int64_t>(shop.readBeforeFirstSignOn());
                firstFloor.add(timeMs([&] { sink += shop.floorSignOn(); }));
            }
            // Steady: sign-on after sign-on on the open dataset.
            Sample steady, steadyFloor;
            for (int i = 0; i < o.signons; ++i) {
                steady.add(timeMs([&] { sink += signOn(*dmod); }));
                steadyFloor.add(timeMs([&] { sink += shop.floorSignOn(); }));
            }
            addRow({shop.prefix() + "sign-on right after opening, " + label + variant, us(first.median()),
                    us(firstFloor.median()), first.median() / firstFloor.median(), 2.0, spreadMs(first, true)});
            addRow({shop.prefix() + "sign-on, repeated, " + label + variant, us(steady.median()),
                    us(steadyFloor.median()), steady.median() / steadyFloor.median(), 2.0, spreadMs(steady, true)});
        };
        measure("");
        // The same without waiting for the disk (both connections alike), which shows the work of our own code.
        if (const std::function<void()> restore = shop.withoutFsync(*dmod)) {
            measure(", no fsync");
            restore();
        }
        if (sink == 42)
            std::printf(" ");
    }
    // Leave the database as it was, so that the next run measures the same count.
    shop.execute("DELETE FROM oper WHERE operid > " + std::to_string(lastBefore));
}

// A till's part once connected: says "ready", waits for a line on its input, then signs on N times, printing
// each sign-on's time and the key it got. A failure is printed and ends it with status 1.
int tillLoop(int signOns, const std::function<std::int64_t()>& signOnOnce)
{
    try {
        std::printf("ready\n");
        std::fflush(stdout);
        std::string go;
        std::getline(std::cin, go);
        std::string out;
        for (int i = 0; i < signOns; ++i) {
            std::int64_t key = 0;
            const double took = timeMs([&] { key = signOnOnce(); });
            out += "signon " + fmt("%.1f", took * 1000) + " " + std::to_string(key) + "\n";
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::printf("fail %s\n", e.what());
        return 1;
    }
}

// One till, in a process of its own (velmora-bench --till URI N): connects, opens the operators and the login
// table as the login does, then signs on as the program does.
int runTill(const std::string& uri, int signOns)
{
    try {
        auto dmod = connectedServerModule(uri);
        dmod->tuser().open();
        dmod->toper().open();
        return tillLoop(signOns, [&] { return appendLoginRecord(*dmod, 1); });
    } catch (const std::exception& e) {
        std::printf("fail %s\n", e.what());
        return 1;
    }
}

// The same till as bare libpq (velmora-bench --bare-till URI N): the sign-on's floor, what eight tills cost on
// this machine without the program.
int runBareTill(const std::string& uri, int signOns)
{
    try {
        PgHandle plain = connectBare(uri);
        ServerSignOnFloor floor(plain.get());
        return tillLoop(signOns, [&] { return floor.signOn(); });
    } catch (const std::exception& e) {
        std::printf("fail %s\n", e.what());
        return 1;
    }
}

struct TillsRun
{
    Sample signOnUs;
    std::vector<std::int64_t> keys;
    std::vector<std::string> failures;
};

TillsRun runTills(const Options& o, const std::string& uri, int tills, bool bare = false)
{
    struct Till
    {
        pid_t pid = 0;
        int in = -1;
        FILE* out = nullptr;
    };
    std::vector<Till> running;
    const std::string self = fs::canonical("/proc/self/exe").string();
    const std::string count = std::to_string(o.tillSignOns);
    for (int t = 0; t < tills; ++t) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
        std::vector<char*> argv = {const_cast<char*>(self.c_str()), const_cast<char*>(bare ? "--bare-till" : "--till"),
                                   const_cast<char*>(uri.c_str()), const_cast<char*>(count.c_str()), nullptr};
        Till till;
        const int rc = posix_spawn(&till.pid, self.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        if (rc != 0)
            throw std::runtime_error("cannot start a till: " + std::string(std::strerror(rc)));
        till.in = toChild[1];
        till.out = fdopen(fromChild[0], "r");
        running.push_back(till);
    }
    TillsRun result;
    char line[4096];
    // Every till connected and its tables open before any signs on.
    for (Till& till : running)
        if (!std::fgets(line, sizeof line, till.out) || std::string_view(line) != "ready\n")
            result.failures.push_back(std::string("a till did not get ready: ") + line);
    for (Till& till : running) {
        if (write(till.in, "go\n", 3) != 3)
            result.failures.push_back("a till did not take its start");
        close(till.in);
    }
    for (Till& till : running) {
        while (std::fgets(line, sizeof line, till.out)) {
            double took = 0;
            long long key = 0;
            if (std::sscanf(line, "signon %lf %lld", &took, &key) == 2) {
                result.signOnUs.add(took);
                result.keys.push_back(key);
            } else {
                result.failures.push_back(line);
            }
        }
        std::fclose(till.out);
        int status = 0;
        waitpid(till.pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            result.failures.push_back("a till ended with status " + std::to_string(status));
    }
    return result;
}

double percentile(const Sample& s, double p)
{
    if (s.values.empty())
        return 0;
    std::vector<double> v = s.values;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

void benchTills(const Options& o)
{
    const std::string& uri = o.server;
    PgHandle plain = connectBare(uri);
    const std::int64_t lastBefore = scalar(plain.get(), "SELECT coalesce(max(operid), 0) FROM oper");
    std::printf("\n%d tills at once, %d sign-ons each (%s)\n", o.tills, o.tillSignOns, redactedServerUri(uri).c_str());
    const TillsRun lone = runTills(o, uri, 1);
    const TillsRun many = runTills(o, uri, o.tills);

    // Every sign-on kept, each under its own key, and exactly those rows added.
    std::vector<std::string> failures = lone.failures;
    failures.insert(failures.end(), many.failures.begin(), many.failures.end());
    std::set<std::int64_t> keys(lone.keys.begin(), lone.keys.end());
    keys.insert(many.keys.begin(), many.keys.end());
    const std::size_t expected = static_cast<std::size_t>(o.tillSignOns) * static_cast<std::size_t>(o.tills + 1);
    const std::int64_t added =
        scalar(plain.get(), "SELECT count(*) FROM oper WHERE operid > " + std::to_string(lastBefore));
    const PgResult kept =
        exec(plain.get(), "SELECT operid FROM oper WHERE operid > " + std::to_string(lastBefore), PGRES_TUPLES_OK);
    std::set<std::int64_t> stored;
    for (int i = 0; i < PQntuples(kept.get()); ++i)
        stored.insert(std::strtoll(PQgetvalue(kept.get(), i, 0), nullptr, 10));
    const bool allKept = keys.size() == expected && lone.keys.size() + many.keys.size() == expected &&
                         static_cast<std::size_t>(added) == expected && stored == keys;
    for (const std::string& failure : failures)
        std::printf("  failure: %s\n", failure.c_str());
    std::printf("  %zu sign-ons, %zu distinct keys, %lld rows added, every key stored: %s; %zu failures\n",
                lone.keys.size() + many.keys.size(), keys.size(), static_cast<long long>(added),
                stored == keys ? "yes" : "NO", failures.size());
    const double median = lone.signOnUs.median() / 1000, p99 = percentile(many.signOnUs, 0.99) / 1000;
    addRow({"server: " + std::to_string(o.tills) + " tills, 99th percentile of a sign-on", us(p99), us(median),
            median > 0 ? p99 / median : 0, 5.0,
            "floor: a lone till's median; " +
                std::string(allKept && failures.empty() ? "all kept, no failure" : "**records lost or failed**") +
                fmt(", median %.1f us", many.signOnUs.median())});
    // The machine's own share: the same eight tills as bare libpq, against their lone median (after the program's
    // records are counted).
    const TillsRun bareLone = runTills(o, uri, 1, true);
    const TillsRun bareMany = runTills(o, uri, o.tills, true);
    const double bareMedian = bareLone.signOnUs.median() / 1000, bareP99 = percentile(bareMany.signOnUs, 0.99) / 1000;
    const bool bareFailed = !bareLone.failures.empty() || !bareMany.failures.empty();
    addRow({"server: " + std::to_string(o.tills) + " bare libpq tills, 99th percentile", us(bareP99), us(bareMedian),
            bareMedian > 0 ? bareP99 / bareMedian : 0, 0.0,
            "floor: a lone bare till's median" + std::string(bareFailed ? "; **failed**" : "")});
    addRow({"server: " + std::to_string(o.tills) + " tills' 99th percentile against bare tills'", us(p99), us(bareP99),
            bareP99 > 0 ? p99 / bareP99 : 0, 0.0, "the program's share of the wait under load"});
    exec(plain.get(), "DELETE FROM oper WHERE operid > " + std::to_string(lastBefore), PGRES_COMMAND_OK);
}

// ---- splash ----------------------------------------------------------------------------------------------------

void benchSplash(const Options& o)
{
    std::printf("\nSplash animation\n");
    Tfac fac;
    const QImage picture = fac.picture();
    RevealAnimation animation(picture);
    const std::size_t bytes = static_cast<std::size_t>(RevealAnimation::columnCopiesFor(animation.width())) *
                              static_cast<std::size_t>(animation.height()) * 3;
    std::printf("  %dx%d picture, %d frames, %s copied\n", animation.width(), animation.height(),
                animation.frameCount(), mib(static_cast<double>(bytes)).c_str());
    std::vector<unsigned char> from(bytes, 1), to(bytes, 0); // touched now, so no page faults are timed
    Sample run, copy;
    std::uint64_t sink = 0;
    const int runs = std::max(o.runs * 2 + 1, 5);
    for (int i = 0; i < runs; ++i) {
        int frames = 0;
        run.add(timeMs([&] {
            animation.run([&](const QImage& frame, int c) {
                sink += frame.constBits()[0] + static_cast<std::uint64_t>(c);
                ++frames;
            });
        }));
        if (frames != 326 && animation.width() == 650)
            throw std::runtime_error("the animation made " + std::to_string(frames) + " frames");
        from[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
        copy.add(timeMs([&] { std::memcpy(to.data(), from.data(), bytes); }));
        sink += to[static_cast<std::size_t>(i)];
    }
    addRow({"compose the 326 splash frames", ms(run.median()), ms(copy.median()), run.median() / copy.median(), 10.0,
            spreadMs(run)});
    if (sink == 42)
        std::printf(" ");
}

// ---- start-up --------------------------------------------------------------------------------------------------

struct StartupRun
{
    std::map<std::string, double> stampsMs; // after spawn
    std::vector<std::string> boxes;
    bool ok = false;
};

// A folder of its own for the start-up program: a copy of it, and a DBConn.ini naming the database.
fs::path startupFolder(const Options& o, const std::string& database, const std::string& name)
{
    const fs::path folder = fs::temp_directory_path() / ("velmora-bench-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(o.startupExe, folder / "velmora-bench-startup");
    if (!database.empty()) {
        const fs::path ini = folder / "DBConn.ini";
        std::ofstream out(ini);
        out << "[Velmora]\nDB_Source=" << fs::absolute(database).string()
            << "\nDB_User=admin\nDB_Password=" << o.password << "\n";
        out.close();
        fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
    }
    return folder;
}

StartupRun runStartup(const fs::path& folder, bool floor)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    const std::string exe = (folder / "velmora-bench-startup").string();
    const std::string errors = (folder / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
    if (floor)
        argv.push_back(const_cast<char*>("--floor"));
    argv.push_back(nullptr);
    pid_t child = 0;
    const std::int64_t spawned = nowNs();
    const int rc = posix_spawn(&child, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start " + exe + ": " + std::strerror(rc));
    }
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);

    StartupRun result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind, name;
        long long at = 0;
        words >> kind;
        if (kind == "stamp" && (words >> name >> at)) {
            if (!result.stampsMs.contains(name)) // the first of each (repaint happens more than once)
                result.stampsMs[name] = static_cast<double>(at - spawned) / 1e6;
        } else if (kind == "box") {
            result.boxes.push_back(line.substr(4));
        }
    }
    result.ok = WIFEXITED(status) && result.stampsMs.contains("login-dialog") && result.boxes.empty();
    if (!result.ok) {
        std::ifstream err(errors);
        std::cerr << "start-up run failed (status " << status << "):\n" << text << err.rdbuf() << "\n";
    }
    return result;
}

struct StartupFigure
{
    Sample toDialog;
    std::map<std::string, Sample> phases;
};

StartupFigure measureStartup(const Options& o, const fs::path& folder, bool floor)
{
    StartupFigure figure;
    runStartup(folder, floor); // one untimed run: the program and its libraries come from the page cache after
    for (int i = 0; i < o.startupRuns; ++i) {
        const StartupRun run = runStartup(folder, floor);
        if (!run.ok)
            throw std::runtime_error("the start-up did not reach the login dialog");
        figure.toDialog.add(run.stampsMs.at("login-dialog"));
        for (const auto& [name, at] : run.stampsMs)
            figure.phases[name].add(at);
    }
    return figure;
}

void printPhases(const StartupFigure& f)
{
    // In the order they happen; each as the median time after the spawn.
    std::printf("   ");
    for (const char* name : {"main", "application", "repaint", "pause", "title", "login-dialog"})
        if (f.phases.contains(name))
            std::printf(" %s %.1f ms", name, f.phases.at(name).median());
    std::printf("\n");
}

void benchStartup(const Options& o)
{
    std::printf("\nStart-up to the login dialog (offscreen, 1000 ms pause skipped)\n");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const fs::path floorFolder = startupFolder(o, {}, "floor");
    const StartupFigure floor = measureStartup(o, floorFolder, true);
    printPhases(floor);
    std::optional<StartupFigure> demo;
    if (!o.demoDb.empty()) {
        const fs::path folder = startupFolder(o, o.demoDb, "demo");
        demo = measureStartup(o, folder, false);
        printPhases(*demo);
        addRow({"start-up to login dialog, demo database", ms(demo->toDialog.median()), ms(floor.toDialog.median()),
                demo->toDialog.median() / floor.toDialog.median(), 0, spreadMs(demo->toDialog)});
        fs::remove_all(folder);
    }
    const fs::path folder = startupFolder(o, o.db, "large");
    const StartupFigure large = measureStartup(o, folder, false);
    printPhases(large);
    addRow({"start-up to login dialog, large database", ms(large.toDialog.median()), ms(floor.toDialog.median()),
            large.toDialog.median() / floor.toDialog.median(), 0, spreadMs(large.toDialog)});
    if (demo)
        addRow({"  large database against demo database", ms(large.toDialog.median()), ms(demo->toDialog.median()),
                large.toDialog.median() / demo->toDialog.median(), 0, "floor here: the demo start-up"});
    fs::remove_all(folder);
    fs::remove_all(floorFolder);
}

Options parseArguments(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--help") {
            std::cout << usageText;
            std::exit(0);
        }
        if (i + 1 >= argc)
            throw std::invalid_argument(std::string(word) + " needs a value");
        const std::string value = argv[++i];
        auto number = [&] {
            const int n = std::atoi(value.c_str());
            if (n < 1)
                throw std::invalid_argument(std::string(word) + " needs a number >= 1");
            return n;
        };
        if (word == "--db")
            o.db = value;
        else if (word == "--signon-db")
            o.signonDb = value;
        else if (word == "--demo-db")
            o.demoDb = value;
        else if (word == "--startup-exe")
            o.startupExe = value;
        else if (word == "--db-password")
            o.password = value;
        else if (word == "--runs")
            o.runs = number();
        else if (word == "--signons")
            o.signons = number();
        else if (word == "--first-signons")
            o.firstSignons = number();
        else if (word == "--startup-runs")
            o.startupRuns = number();
        else if (word == "--server")
            o.server = value;
        else if (word == "--signon-server")
            o.signonServer = value;
        else if (word == "--tills")
            o.tills = number();
        else if (word == "--till-signons")
            o.tillSignOns = number();
        else if (word == "--only")
            o.only = value;
        else
            throw std::invalid_argument("unknown option " + std::string(word));
    }
    if (o.db.empty() && o.server.empty())
        throw std::invalid_argument("--db or --server is needed");
    if (o.startupExe.empty())
        o.startupExe = (fs::canonical("/proc/self/exe").parent_path() / "velmora-bench-startup").string();
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string_view(argv[1]) == "--till")
        return runTill(argv[2], std::atoi(argv[3]));
    if (argc == 4 && std::string_view(argv[1]) == "--bare-till")
        return runBareTill(argv[2], std::atoi(argv[3]));
    Options options;
    try {
        options = parseArguments(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "velmora-bench: " << e.what() << "\n\n" << usageText;
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    try {
        if (!options.db.empty() && (options.wants("open") || options.wants("memory"))) {
            FileShop shop(options.db, options.password);
            benchOpenAndMemory(options, shop);
        }
        if (!options.db.empty() && options.wants("totals")) {
            FileShop shop(options.db, options.password);
            benchTotals(options, shop);
        }
        if (!options.db.empty() && options.wants("signon")) {
            if (!options.signonDb.empty()) {
                FileShop shop(options.signonDb, options.password);
                benchSignOn(options, shop);
            }
            FileShop shop(options.db, options.password);
            benchSignOn(options, shop);
        }
        if (!options.server.empty()) {
            if (options.wants("open") || options.wants("memory")) {
                ServerShop shop(options.server);
                benchOpenAndMemory(options, shop);
            }
            if (options.wants("signon")) {
                if (!options.signonServer.empty()) {
                    ServerShop shop(options.signonServer);
                    benchSignOn(options, shop);
                }
                ServerShop shop(options.server);
                benchSignOn(options, shop);
            }
            if (options.wants("totals")) {
                ServerShop shop(options.server);
                benchTotals(options, shop);
            }
            if (options.wants("tills"))
                benchTills(options);
        }
        if (options.wants("splash"))
            benchSplash(options);
        if (!options.db.empty() && options.wants("startup"))
            benchStartup(options);
    } catch (const std::exception& e) {
        std::cerr << "velmora-bench: " << e.what() << "\n";
        printTable();
        return 1;
    }
    printTable();
    return 0;
}
