// velmora-db restore, as an administrator restores a shop's backup: refused while a program has the database open
// (the file then unchanged to the byte), and otherwise the backup in place of the file, a row written since gone,
// the replaced file kept beside it. On the server, a pg_dump archive restored into an empty database only.

#include "tests/support/HolderProcess.h"
#include "tests/support/SampleBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <sys/stat.h>

using namespace velmora::test;

namespace {

namespace fs = std::filesystem;

std::string single(const std::string& database, const std::string& sql)
{
    const auto rows = rowsOfFile(database, sql);
    return rows.empty() || rows.front().empty() ? std::string() : rows.front().front();
}

// A shop's database as velmora-db makes it, with one operator and one login record, and a backup of it.
class FileRestore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(runVelmoraDb({"create", database}).status, 0);
        ASSERT_EQ(runVelmoraDb({"add-operator", database, "--username", "admin", "--userid", "1", "--password",
                                "Till-pass-1234", "--groups", "all"})
                      .status,
                  0);
        rowsOfFile(database, "INSERT INTO oper (userid, 登录时间) VALUES (1, '2024-03-01 08:00:00')");
        const ToolRun backedUp = runVelmoraDb({"backup", database, backup});
        ASSERT_EQ(backedUp.status, 0) << backedUp.output;
        // Written after the backup: a restore takes it away.
        rowsOfFile(database, "INSERT INTO oper (userid, 登录时间) VALUES (1, '2024-03-02 08:00:00')");
    }

    TempFolder folder;
    const std::string database = folder.file("velmdb.mdb");
    const std::string backup = folder.file("velmdb-20240301-020000.mdb");
};

struct Holder
{
    const char* name;
    std::vector<std::string> (*argv)(const std::string& path);
    const char* named; // the process the refusal names
};

class RestoreWhileHeld : public FileRestore, public ::testing::WithParamInterface<Holder>
{
};

// An idle till holds the file open and no lock; a busy one holds a lock in a transaction.
const Holder Holders[] = {
    {"OpenFile", holdFileOpen, "sh (pid "},
    {"ExclusiveTransaction",
     [](const std::string& path) {
         return std::vector<std::string>{VELMORA_BIN_DIR "/velmora_lock_holder", path};
     },
     "velmora_lock_ho (pid "}, // as the kernel shortens a process's name
};

void PrintTo(const Holder& holder, std::ostream* out)
{
    *out << holder.name;
}

INSTANTIATE_TEST_SUITE_P(Holders, RestoreWhileHeld, ::testing::ValuesIn(Holders),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(RestoreWhileHeld, IsRefusedAndTheFileIsUnchangedToTheByte)
{
    rowsOfFile(database, "PRAGMA wal_checkpoint(TRUNCATE)");
    const std::string before = bytesOfFile(database);
    const std::set<std::string> filesBefore = namesIn(folder.path());
    HolderProcess holder(GetParam().argv(database));
    ASSERT_FALSE(holder.waitUntilReady(std::chrono::seconds(10)).empty()) << "the holder did not start";

    const ToolRun run = runVelmoraDb({"restore", backup, database});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("is in use by"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(GetParam().named), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("nothing was changed"), std::string::npos) << run.output;
    holder.release();

    EXPECT_EQ(bytesOfFile(database), before);
    EXPECT_EQ(namesIn(folder.path()), filesBefore) << "no kept file, no copy left beside it";
    EXPECT_EQ(single(database, "SELECT count(*) FROM oper"), "2");
}

TEST_F(FileRestore, PutsTheBackupInPlaceAndKeepsTheFileItReplaced)
{
    ASSERT_EQ(::chmod(database.c_str(), 0640), 0);
    // A till that signed on and ended left its log beside the file.
    const ToolRun run = runVelmoraDb({"restore", backup, database});
    ASSERT_EQ(run.status, 0) << run.output;

    EXPECT_EQ(single(database, "SELECT count(*) FROM oper"), "1") << "the record written after the backup is gone";
    EXPECT_EQ(single(database, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(single(database, "PRAGMA journal_mode"), "wal");
    struct stat status = {};
    ASSERT_EQ(::stat(database.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u) << "the restored file has the replaced file's permissions";

    std::string kept;
    for (const std::string& name : namesIn(folder.path())) {
        if (name.rfind("velmdb.mdb.before-restore-", 0) == 0)
            kept = folder.file(name);
        EXPECT_NE(name.front(), '.') << "a temporary copy is left: " << name;
    }
    ASSERT_FALSE(kept.empty()) << run.output;
    EXPECT_NE(run.output.find(kept), std::string::npos) << run.output;
    EXPECT_EQ(fs::path(kept).filename().string().size(),
              std::string("velmdb.mdb.before-restore-20240301-020000").size());
    EXPECT_EQ(single(kept, "SELECT count(*) FROM oper"), "2") << "the kept file holds what the database held";
    EXPECT_EQ(single(kept, "PRAGMA integrity_check"), "ok");

    // The program opens the restored database.
    const ToolRun list = runVelmoraDb({"list-operators", database});
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("admin\t1"), std::string::npos) << list.output;
}

TEST_F(FileRestore, ABackupThatIsNoSoundDatabaseChangesNothing)
{
    rowsOfFile(database, "PRAGMA wal_checkpoint(TRUNCATE)");
    const std::string before = bytesOfFile(database);
    const std::string broken = folder.file("broken.mdb");
    {
        // The backup's first page kept, the rest of it overwritten: a damaged file.
        std::string bytes = bytesOfFile(backup);
        for (std::size_t i = 4096; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7);
        std::ofstream(broken, std::ios::binary) << bytes;
    }
    const std::string notDatabase = folder.file("notes.txt");
    std::ofstream(notDatabase) << "not a database\n";
    const std::string empty = folder.file("empty.mdb");
    rowsOfFile(empty, "CREATE TABLE t (a INTEGER)");
    for (const std::string& bad : {broken, notDatabase, empty}) {
        SCOPED_TRACE(bad);
        const std::set<std::string> filesBefore = namesIn(folder.path());
        const ToolRun run = runVelmoraDb({"restore", bad, database});
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("nothing was changed"), std::string::npos) << run.output;
        EXPECT_EQ(bytesOfFile(database), before);
        EXPECT_EQ(namesIn(folder.path()), filesBefore);
    }
}

TEST(ServerRestore, AnArchiveGoesIntoAnEmptyDatabaseOnlyAndLeavesOutWhatCameAfter)
{
    if (const std::string why = skipReason(TestBackend::Server); !why.empty())
        GTEST_SKIP() << why;
    TestDatabase shop(TestBackend::Server);
    TestDatabase spare(TestBackend::Server);
    // The command's words with the database's URI in place of "URI", its role and password after them.
    const auto with = [](std::vector<std::string> words, const TestDatabase& db) {
        const std::vector<std::string> target = db.toolTarget();
        for (std::string& word : words)
            if (word == "URI")
                word = target.front();
        words.insert(words.end(), target.begin() + 1, target.end());
        return words;
    };
    ASSERT_EQ(runVelmoraDb(with({"create", "URI"}, shop)).status, 0);
    shop.run("INSERT INTO oper (userid, \"登录时间\") VALUES (1, '2024-03-01 08:00:00')");
    TempFolder folder;
    const std::string archive = folder.file("velmora-server-20240301-020000.dump");
    const ToolRun dumped = runVelmoraDb(with({"backup", "URI", archive}, shop));
    ASSERT_EQ(dumped.status, 0) << dumped.output;
    ASSERT_TRUE(fs::exists(archive));
    shop.run("INSERT INTO oper (userid, \"登录时间\") VALUES (1, '2024-03-02 08:00:00')");

    // Not into a database that holds tables: nothing there may be lost.
    const ToolRun refused = runVelmoraDb(with({"restore", archive, "URI"}, shop));
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("not empty"), std::string::npos) << refused.output;
    EXPECT_EQ(shop.number("select count(*) from oper"), 2);

    const ToolRun restored = runVelmoraDb(with({"restore", archive, "URI"}, spare));
    ASSERT_EQ(restored.status, 0) << restored.output;
    EXPECT_EQ(spare.number("select count(*) from oper"), 1);
    EXPECT_EQ(spare.number("select count(*) from pg_tables where schemaname = 'public'"),
              shop.number("select count(*) from pg_tables where schemaname = 'public'"));
    for (const ToolRun* run : {&dumped, &refused, &restored})
        EXPECT_EQ(run->output.find(shop.server()->password), std::string::npos) << "the password is never shown";
}

} // namespace
