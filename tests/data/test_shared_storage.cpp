// A database file on a network file system is refused, naming the file system and pointing to the shared server:
// the file system types as statfs gives them, and a real FUSE mount served by the test itself (where the test may
// mount one), through the connect, the making of a new file and velmora-db check.

#include "data/Errors.h"
#include "data/engines/SharedStorage.h"
#include "data/engines/SqliteBackend.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <linux/fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velmora::data;
using namespace velmora::test;

namespace {

namespace fs = std::filesystem;

struct TypeCase
{
    const char* name;
    std::int64_t type;                  // statfs's f_type
    std::optional<std::string> refused; // the name the refusal gives, none for a local file system
};

void PrintTo(const TypeCase& c, std::ostream* out)
{
    *out << c.name;
}

class FileSystemType : public ::testing::TestWithParam<TypeCase>
{
};

TEST_P(FileSystemType, IsRefusedWhenItIsANetworksOne)
{
    EXPECT_EQ(networkFileSystemName(GetParam().type), GetParam().refused);
}

INSTANTIATE_TEST_SUITE_P(Types, FileSystemType,
                         ::testing::Values(TypeCase{"Nfs", 0x6969, "NFS"}, TypeCase{"Smb", 0x517B, "SMB/CIFS"},
                                           TypeCase{"Cifs", static_cast<std::int64_t>(0xFF534D42), "SMB/CIFS"},
                                           // statfs's f_type is signed on some machines: the same bits, negative.
                                           TypeCase{"CifsSigned", static_cast<std::int32_t>(0xFF534D42), "SMB/CIFS"},
                                           TypeCase{"Smb2", static_cast<std::int64_t>(0xFE534D42), "SMB2"},
                                           TypeCase{"Fuse", 0x65735546, "FUSE"}, TypeCase{"NineP", 0x01021997, "9P"},
                                           TypeCase{"Ceph", 0x00C36400, "Ceph"}, TypeCase{"Ext4", 0xEF53, std::nullopt},
                                           TypeCase{"Xfs", 0x58465342, std::nullopt},
                                           TypeCase{"Btrfs", 0x9123683E, std::nullopt},
                                           TypeCase{"Tmpfs", 0x01021994, std::nullopt},
                                           TypeCase{"Overlay", 0x794C7630, std::nullopt},
                                           TypeCase{"Zfs", 0x2FC12FC1, std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LocalStorage, ATemporaryFolderIsNoNetworkFileSystem)
{
    TempFolder dir;
    EXPECT_FALSE(networkStorageFailure(dir.file("velmdb.mdb")).has_value());
}

// A FUSE file system of the test's own, served on a thread: its root folder holds one file, velmdb.mdb (nothing
// can be read from it: the refusal must come before anything is read).
class TestFuseMount
{
public:
    explicit TestFuseMount(const fs::path& at) : m_at(at)
    {
        m_device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (m_device < 0)
            return;
        const std::string options = "fd=" + std::to_string(m_device) +
                                    ",rootmode=40000,user_id=" + std::to_string(::getuid()) +
                                    ",group_id=" + std::to_string(::getgid());
        if (::mount("velmora-test", at.c_str(), "fuse.velmora-test", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            ::close(m_device);
            m_device = -1;
            return;
        }
        m_mounted = true;
        m_server = std::thread([this] { serve(); });
    }
    ~TestFuseMount()
    {
        if (m_mounted)
            ::umount2(m_at.c_str(), MNT_DETACH);
        if (m_server.joinable())
            m_server.join();
        if (m_device >= 0)
            ::close(m_device);
    }
    TestFuseMount(const TestFuseMount&) = delete;
    TestFuseMount& operator=(const TestFuseMount&) = delete;

    bool mounted() const { return m_mounted; }

private:
    static fuse_attr attributes(std::uint64_t node)
    {
        fuse_attr attr = {};
        attr.ino = node;
        attr.mode = node == FUSE_ROOT_ID ? (S_IFDIR | 0755) : (S_IFREG | 0644);
        attr.nlink = node == FUSE_ROOT_ID ? 2 : 1;
        attr.size = node == FUSE_ROOT_ID ? 0 : 4096;
        attr.uid = ::getuid();
        attr.gid = ::getgid();
        attr.blksize = 4096;
        return attr;
    }

    void reply(const fuse_in_header& request, int error, const void* body = nullptr, std::size_t size = 0)
    {
        std::vector<char> out(sizeof(fuse_out_header) + size);
        fuse_out_header header = {static_cast<std::uint32_t>(out.size()), -error, request.unique};
        std::memcpy(out.data(), &header, sizeof header);
        if (size)
            std::memcpy(out.data() + sizeof header, body, size);
        [[maybe_unused]] const ssize_t written = ::write(m_device, out.data(), out.size());
    }

    void serve()
    {
        std::vector<char> buffer(1 << 20 | 1 << 16);
        for (;;) {
            const ssize_t n = ::read(m_device, buffer.data(), buffer.size());
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n < static_cast<ssize_t>(sizeof(fuse_in_header)))
                return; // unmounted
            fuse_in_header request;
            std::memcpy(&request, buffer.data(), sizeof request);
            const char* body = buffer.data() + sizeof request;
            switch (request.opcode) {
            case FUSE_INIT: {
                fuse_init_in in;
                std::memcpy(&in, body, std::min(sizeof in, static_cast<std::size_t>(n) - sizeof request));
                fuse_init_out out = {};
                out.major = FUSE_KERNEL_VERSION;
                out.minor = std::min<std::uint32_t>(in.minor, FUSE_KERNEL_MINOR_VERSION);
                out.max_readahead = in.max_readahead;
                out.max_write = 4096;
                out.max_background = 1;
                out.congestion_threshold = 1;
                out.time_gran = 1;
                reply(request, 0, &out, sizeof out);
                break;
            }
            case FUSE_LOOKUP:
                if (std::string_view(body) == "velmdb.mdb") {
                    fuse_entry_out entry = {};
                    entry.nodeid = 2;
                    entry.attr = attributes(2);
                    reply(request, 0, &entry, sizeof entry);
                } else {
                    reply(request, ENOENT);
                }
                break;
            case FUSE_GETATTR: {
                fuse_attr_out out = {};
                out.attr = attributes(request.nodeid);
                reply(request, 0, &out, sizeof out);
                break;
            }
            case FUSE_STATFS: {
                fuse_statfs_out out = {};
                out.st.blocks = out.st.bfree = out.st.bavail = 1024;
                out.st.files = out.st.ffree = 16;
                out.st.bsize = out.st.frsize = 4096;
                out.st.namelen = 255;
                reply(request, 0, &out, sizeof out);
                break;
            }
            case FUSE_FORGET:
            case FUSE_BATCH_FORGET:
            case FUSE_INTERRUPT:
                break; // no answer is expected
            case FUSE_DESTROY:
                reply(request, 0);
                return;
            default:
                reply(request, ENOSYS);
                break;
            }
        }
    }

    fs::path m_at;
    int m_device = -1;
    bool m_mounted = false;
    std::thread m_server;
};

void expectRefusalNamingFuse(const std::string& text, const std::string& path)
{
    for (const std::string& part :
         {"'" + path + "'", std::string("network file system (FUSE)"), std::string("shared server")})
        EXPECT_NE(text.find(part), std::string::npos) << text << "\nlacks: " << part;
}

TEST(FuseMount, ADatabaseFileThereIsRefusedNamingTheFileSystem)
{
    TempFolder dir;
    const fs::path share = dir.path() / "share";
    fs::create_directories(share);
    const TestFuseMount mount(share);
    if (!mount.mounted())
        GTEST_SKIP() << "no FUSE file system can be mounted here (needs /dev/fuse and the right to mount)";
    const std::string existing = (share / "velmdb.mdb").string();
    const std::string fresh = (share / "new.mdb").string();

    try {
        connectProvider(fileConnectionString(existing), dir.folder());
        ADD_FAILURE() << "connected to a database on FUSE";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Unsupported);
        expectRefusalNamingFuse(e.what(), existing);
    }
    try {
        createDatabaseFile(fresh);
        ADD_FAILURE() << "made a database on FUSE";
    } catch (const DatabaseError& e) {
        expectRefusalNamingFuse(e.what(), fresh);
    }
    const ToolRun check = runVelmoraDb({"check", existing});
    EXPECT_EQ(check.status, 1) << check.output;
    expectRefusalNamingFuse(check.output, existing);
    const ToolRun create = runVelmoraDb({"create", fresh});
    EXPECT_EQ(create.status, 1) << create.output;
    expectRefusalNamingFuse(create.output, fresh);
}

} // namespace
