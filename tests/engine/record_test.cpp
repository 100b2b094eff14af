// The record of what QuayMap made, in a folder of its own: its text, a damaged file, writers
// side by side, and writers killed half-way.
#include "record.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quaymap;

namespace {

// A fresh folder under the system's temporary one, gone with the test.
struct Folder {
    char name[27] = "/tmp/quaymap-record-XXXXXX";
    const std::string path = ::mkdtemp(name);
    ~Folder() { std::filesystem::remove_all(path); }
};

RecordEntry entry(uint16_t port, const std::string& name = "web") {
    RecordEntry e;
    e.router = "uuid:a1b2", e.protocol = "igd2", e.external_port = port, e.internal_port = 80;
    e.transport = "TCP", e.internal_client = "192.168.1.20", e.name = name;
    return e;
}

std::string ports(const std::vector<RecordEntry>& entries) {
    std::string text;
    for (const RecordEntry& e : entries)
        text += std::to_string(e.external_port) + " ";
    return text;
}

void add(const Record& record, uint16_t port) {
    record.change([&](std::vector<RecordEntry>& entries) { entries.push_back(entry(port)); });
}

} // namespace

TEST(RecordText, KeepsEveryByteAndRefusesWhatIsNotWhole) {
    RecordEntry odd = entry(8080, "R&D =100%\t\n\x1b caf\xc3\xa9");
    odd.kept = true, odd.keeper = "/etc/quaymap/keep.conf", odd.nonce = "0a1b", odd.lease = 7200;
    odd.lease_end = 1800000000;
    std::vector<RecordEntry> back;
    ASSERT_TRUE(read_record_text(record_text({odd, entry(22)}), back));
    EXPECT_EQ(record_text(back), record_text({odd, entry(22)}));
    const std::string whole = record_text({entry(8080)});
    EXPECT_NE(whole.find("\nrouter=uuid:a1b2 protocol=igd2 port=8080 inside=80 transport=TCP "
                         "client=192.168.1.20 name=web lease=0 lease_end=0 kept=0\nend 1\n"),
              std::string::npos)
        << whole;
    // A later version's keys are passed over; everything else that is not whole is refused.
    const std::string later = "quaymap-record 1\nrouter=r port=1 transport=UDP epoch=9\nend 1\n";
    EXPECT_TRUE(read_record_text(later, back) && back[0].internal_port == 1);
    for (const std::string& damaged : std::vector<std::string>{
             "", whole.substr(0, whole.size() - 1), whole.substr(0, whole.find("end")),
             "quaymap-record 2\nend 0\n", "quaymap-record 1\nend 2\n", whole + "router=x\n",
             "quaymap-record 1\nrouter=r port=70000 transport=TCP\nend 1\n",
             "quaymap-record 1\nrouter=r port=1 transport=SCTP\nend 1\n",
             "quaymap-record 1\nrouter=r port=1 transport=TCP name=%G0\nend 1\n",
             "quaymap-record 1\nport=1 transport=TCP\nend 1\n", "\177ELF\2\1"})
        EXPECT_FALSE(read_record_text(damaged, back)) << damaged;
}

TEST(RecordFile, WrittenWholeInItsFolderAndADamagedOneKeptAside) {
    // Its folder, as a service, a user with XDG_STATE_HOME, and a user without one would have it.
    EXPECT_EQ(record_folder("/var/lib/quaymap:/x", "/s", "/h"), "/var/lib/quaymap");
    EXPECT_EQ(record_folder(nullptr, "/s", "/h"), "/s/quaymap");
    EXPECT_EQ(record_folder("", "relative", "/h"), "/h/.local/state/quaymap");
    EXPECT_EQ(record_folder(nullptr, nullptr, nullptr), "");

    Folder folder;
    std::vector<std::string> told;
    int64_t now = 1000;
    const Record record(
        folder.path + "/state/quaymap", [&](const std::string& t) { told.push_back(t); },
        [&] { return now; });
    EXPECT_TRUE(record.entries().empty());
    add(record, 8080);
    // A writer killed before its rename left its temporary file: the next write takes it away.
    std::ofstream(folder.path + "/state/quaymap/mappings.tmp-dead01") << "quaymap-record 1\n";
    RecordEntry lapsing = entry(22), kept = entry(23);
    lapsing.lease_end = kept.lease_end = 1500, kept.kept = true;
    record.change([&](std::vector<RecordEntry>& e) { e.push_back(lapsing), e.push_back(kept); });
    EXPECT_EQ(ports(record.entries()), "8080 22 23 ");
    now = 1500; // a lease that has run out goes, unless the mapping is kept open
    EXPECT_EQ(ports(record.entries()), "8080 23 ");
    std::ifstream in(record.path());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              record_text({entry(8080), lapsing, kept}));
    EXPECT_NE(std::system(("ls " + folder.path + "/state/quaymap/*tmp* 2>/dev/null").c_str()), 0);
    EXPECT_TRUE(told.empty());

    // A damaged file is moved aside, named in the notice, and QuayMap goes on with an empty one.
    std::ofstream(record.path()) << "router=uuid:a1b2 port=8080\n";
    EXPECT_TRUE(record.entries().empty());
    ASSERT_EQ(told.size(), 1u);
    const std::string aside = record.path() + ".damaged-1500";
    EXPECT_EQ(told[0], "QuayMap's record (" + record.path() +
                           ") could not be read; it is kept as " + aside +
                           " and QuayMap starts with an empty record.");
    EXPECT_EQ(std::ifstream(aside).good(), true);
    add(record, 443);
    EXPECT_EQ(ports(record.entries()), "443 ");
}

TEST(RecordFile, WritersSideBySideLoseNothingAndAKilledOneLeavesAWholeRecord) {
    Folder folder;
    const Record record(folder.path);
    // Two processes, two threads in each, each adding ports of its own under the lock.
    std::vector<pid_t> children;
    for (int process = 0; process < 2; ++process)
        if (const pid_t child = ::fork(); child == 0) {
            std::thread other([&] {
                for (int i = 0; i < 20; ++i)
                    add(record, static_cast<uint16_t>(1000 + 100 * process + i));
            });
            for (int i = 0; i < 20; ++i)
                add(record, static_cast<uint16_t>(2000 + 100 * process + i));
            other.join();
            std::_Exit(0);
        } else {
            children.push_back(child);
        }
    for (const pid_t child : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(record.entries().size(), 80u);

    // A writer killed at any moment leaves the record it had or the one it was writing.
    for (int round = 0; round < 40; ++round) {
        const std::size_t before = record.entries().size();
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (uint16_t port = 1;; ++port)
                add(record, static_cast<uint16_t>(10000 + port));
        }
        ::usleep(static_cast<useconds_t>(std::rand() % 3000));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        std::ifstream in(record.path());
        std::vector<RecordEntry> read;
        ASSERT_TRUE(read_record_text(std::string(std::istreambuf_iterator<char>(in), {}), read));
        EXPECT_GE(read.size(), before);
    }
}
