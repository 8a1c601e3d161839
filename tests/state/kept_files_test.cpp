// SPDX-License-Identifier: GPL-3.0-or-later
// What loading does with a state file it cannot read or cannot understand. One that cannot be
// read may hold what the program needs (the entry of a cut-off update), so it is kept as it is
// and never written over during the run; only one that was read and not understood is moved
// aside, and never over an earlier damaged copy. Every state file behaves alike.
#include "StateFixture.h"

#include "state/SettingsMemory.h"
#include "state/UnitLabels.h"
#include "state/UpdateJournal.h"

#include <functional>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::state::test {
namespace {

namespace fs = std::filesystem;

// Runs `load` where this user may not read the state folder: with chmod for a plain user, as
// another user for root, whom permissions do not stop.
std::string withoutPermission(const fs::path& file, const std::function<std::string()>& load) {
    if (::geteuid() != 0) {
        fs::permissions(file, fs::perms::none);
        std::string message = load();
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        return message;
    }
    // The test's folder is the owner's alone (0700), so nobody else may even look into it.
    constexpr uid_t kNobody = 65534;
    EXPECT_EQ(::seteuid(kNobody), 0);
    std::string message = load();
    EXPECT_EQ(::seteuid(0), 0);
    return message;
}

// Runs `load` with every descriptor number in use, as in a process that ran out of them: the
// lowest free number becomes the limit.
std::string withNoDescriptorLeft(const std::function<std::string()>& load) {
    rlimit old{};
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit none = old;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    std::string message = load();
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    return message;
}

// What is at `path`, to tell that nothing was written there.
std::string whatIsAt(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || st.type() == fs::file_type::not_found) {
        return "nothing";
    }
    if (st.type() == fs::file_type::symlink) {
        return "a link to " + fs::read_symlink(path).string();
    }
    if (st.type() == fs::file_type::directory) {
        return "a folder";
    }
    std::ifstream in(path, std::ios::binary);
    return "a file of " + std::to_string(fs::file_size(path)) + " bytes: " +
           std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

DeviceSettings withGain(int8_t gain) {
    DeviceSettings s = factoryDefaults();
    s.gainLeft = gain;
    return s;
}

// One kind of state file: a file worth keeping, loading it and making one change, and whether a
// fresh load finds what the kept file held.
struct Kind {
    const char* name;
    const char* fileName;
    std::string good;
    struct Outcome {
        std::string message; // load()'s
        std::string change;  // the change's error
    };
    std::function<Outcome(const fs::path&,
                          const std::function<std::string(const std::function<std::string()>&)>&)>
        loadAndChange;
    std::function<bool(const fs::path&)> holdsGood;
};

std::vector<Kind> kinds() {
    JournalEntry running;
    running.id = 3;
    running.serial = "QX7700000042";
    running.packagePath = "/home/op/fw.orbu";
    running.packageSha256 = std::string(64, 'a');
    running.blocksTotal = 120;
    running.blocksDone = 37;
    const Kind journal{"journal", kJournalFileName, formatJournal({running}),
                       [](const fs::path& file, const auto& loading) {
                           UpdateJournal j(file);
                           Kind::Outcome out;
                           out.message = loading([&] { return j.load(); });
                           JournalEntry e;
                           e.serial = "other unit";
                           out.change = j.add(e).error;
                           return out;
                       },
                       [running](const fs::path& file) {
                           UpdateJournal j(file);
                           return j.load().empty() &&
                                  j.entries() == std::vector<JournalEntry>{running};
                       }};
    const Kind memory{"settings memory", kSettingsFileName,
                      formatSettingsMemory({{"unit A", withGain(2)}}),
                      [](const fs::path& file, const auto& loading) {
                          SettingsMemory m(file);
                          Kind::Outcome out;
                          out.message = loading([&] { return m.load(); });
                          out.change = m.remember("unit B", withGain(5));
                          return out;
                      },
                      [](const fs::path& file) {
                          SettingsMemory m(file);
                          return m.load().empty() && m.find("unit A") == withGain(2);
                      }};
    UnitLabel studio;
    studio.serial = "unit A";
    studio.label = "Studio A";
    const Kind labels{"unit labels", kLabelsFileName, formatUnitLabels({studio}),
                      [](const fs::path& file, const auto& loading) {
                          UnitLabels l(file);
                          Kind::Outcome out;
                          out.message = loading([&] { return l.load(); });
                          UnitLabel other;
                          other.serial = "unit B";
                          other.label = "Rack 2";
                          out.change = l.set(other).error;
                          return out;
                      },
                      [studio](const fs::path& file) {
                          UnitLabels l(file);
                          return l.load().empty() && l.all() == std::vector<UnitLabel>{studio};
                      }};
    return {journal, memory, labels};
}

using KeptFiles = StateFolderTest;

TEST_F(KeptFiles, OnlyAFileReadAndNotUnderstoodIsMovedAside) {
    using Loading = std::function<std::string(const std::function<std::string()>&)>;
    const Loading plainly = [](const std::function<std::string()>& load) { return load(); };
    struct Case {
        const char* name;
        // Puts what the case is about at `file`; `good` is a file worth keeping.
        std::function<void(const fs::path& file, const std::string& good)> setUp;
        // How the load runs.
        std::function<Loading(const fs::path& file)> loading;
        bool kept;           // else moved aside
        bool goodAfterwards; // a later load, the fault gone, finds what the file held
    };
    const Case cases[] = {
        {"no permission", [](const fs::path& f, const std::string& good) { write(f, good); },
         [](const fs::path& f) -> Loading {
             return [f](const auto& load) { return withoutPermission(f, load); };
         },
         true, true},
        {"a symbolic link",
         [](const fs::path& f, const std::string& good) {
             write(f.parent_path() / "elsewhere", good);
             fs::create_symlink("elsewhere", f);
         },
         [&](const fs::path&) { return plainly; }, true, false},
        {"a folder", [](const fs::path& f, const std::string&) { fs::create_directories(f); },
         [&](const fs::path&) { return plainly; }, true, false},
        {"no descriptor left", [](const fs::path& f, const std::string& good) { write(f, good); },
         [](const fs::path&) -> Loading {
             return [](const auto& load) { return withNoDescriptorLeft(load); };
         },
         true, true},
        {"damaged", [](const fs::path& f, const std::string&) { write(f, "damaged\n"); },
         [&](const fs::path&) { return plainly; }, false, false},
    };
    for (const Kind& kind : kinds()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(kind.name) + ", " + c.name);
            const fs::path folder = root / kind.name / c.name;
            fs::create_directories(folder);
            const fs::path file = folder / kind.fileName;
            c.setUp(file, kind.good);
            const std::string before = whatIsAt(file);
            const std::string beside = whatIsAt(folder / "elsewhere");

            const Kind::Outcome out = kind.loadAndChange(file, c.loading(file));
            const fs::path aside = file.string() + ".damaged";
            if (c.kept) {
                EXPECT_NE(out.message.find("cannot be read"), std::string::npos) << out.message;
                EXPECT_NE(out.message.find("left as it is"), std::string::npos) << out.message;
                EXPECT_NE(out.change.find("left as"), std::string::npos)
                    << "the change says it was not written: " << out.change;
                EXPECT_EQ(whatIsAt(file), before);
                EXPECT_EQ(whatIsAt(folder / "elsewhere"), beside);
                EXPECT_EQ(whatIsAt(aside), "nothing");
                if (c.goodAfterwards) {
                    EXPECT_TRUE(kind.holdsGood(file));
                }
            } else {
                EXPECT_NE(out.message.find("ignored"), std::string::npos) << out.message;
                EXPECT_NE(out.message.find(aside.string()), std::string::npos) << out.message;
                EXPECT_EQ(whatIsAt(aside), before);
                EXPECT_EQ(out.change, "") << "the next change starts a new file";
                EXPECT_NE(whatIsAt(file), "nothing");
            }
        }
    }
}

TEST_F(KeptFiles, ADamagedCopyIsNeverReplacedByTheNext) {
    for (const Kind& kind : kinds()) {
        SCOPED_TRACE(kind.name);
        const fs::path file = root / kind.name / kind.fileName;
        const auto plainly = [](const std::function<std::string()>& load) { return load(); };
        for (const char* damage : {"first damage\n", "second damage\n", "third damage\n"}) {
            write(file, damage);
            EXPECT_EQ(kind.loadAndChange(file, plainly).change, "");
        }
        EXPECT_EQ(read(file.string() + ".damaged"), "first damage\n");
        EXPECT_EQ(read(file.string() + ".damaged.2"), "second damage\n");
        EXPECT_EQ(read(file.string() + ".damaged.3"), "third damage\n");
    }
}

} // namespace
} // namespace qx::state::test
