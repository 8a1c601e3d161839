// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped udev rule, evaluated against attribute walks recorded from real devices (the
// output of `udevadm info --attribute-walk`): it must tag the unit's hidraw node, in both modes,
// and nothing else.
#include <gtest/gtest.h>

#include <fnmatch.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Key {
    std::string name; // KERNEL, ATTRS{manufacturer}, TAG, ...
    std::string op;   // ==, !=, =, +=, :=
    std::string value;
};
using Rule = std::vector<Key>;
using Device = std::map<std::string, std::string>; // device-level key -> value

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<Rule> parseRules(const std::string& text) {
    static const std::regex keyRe(
        R"re(\s*([A-Z_]+(?:\{[^}]*\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*,?)re");
    std::vector<Rule> rules;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find_first_not_of(" \t") == std::string::npos ||
            line[line.find_first_not_of(" \t")] == '#') {
            continue;
        }
        Rule rule;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), keyRe);
             it != std::sregex_iterator(); ++it) {
            rule.push_back({(*it)[1], (*it)[2], (*it)[3]});
        }
        rules.push_back(rule);
    }
    return rules;
}

// The device first, then its parents, with the parents' plural keys made singular.
std::vector<Device> parseWalk(const std::string& text) {
    static const std::regex entryRe(R"re(^\s*([A-Z]+(?:\{[^}]*\})?)=="(.*)"\s*$)re");
    std::vector<Device> chain;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("looking at") != std::string::npos) {
            chain.emplace_back();
            continue;
        }
        std::smatch m;
        if (chain.empty() || !std::regex_match(line, m, entryRe)) {
            continue;
        }
        std::string key = m[1];
        for (const char* plural : {"KERNELS", "SUBSYSTEMS", "DRIVERS", "ATTRS"}) {
            const std::string p = plural;
            if (key.rfind(p, 0) == 0) {
                key = p.substr(0, p.size() - 1) + key.substr(p.size());
            }
        }
        chain.back()[key] = m[2];
    }
    return chain;
}

bool globMatch(const std::string& pattern, const std::string& value) {
    std::size_t start = 0;
    for (;;) { // udev patterns may list alternatives with "|"
        const std::size_t bar = pattern.find('|', start);
        const std::string alt = pattern.substr(start, bar - start);
        if (fnmatch(alt.c_str(), value.c_str(), 0) == 0) {
            return true;
        }
        if (bar == std::string::npos) {
            return false;
        }
        start = bar + 1;
    }
}

bool keyMatches(const Key& k, const Device& d, const std::string& singular) {
    const auto it = d.find(singular);
    const bool match = it != d.end() && globMatch(k.value, it->second);
    return k.op == "==" ? match : !match;
}

bool isParentKey(const std::string& name) {
    for (const char* p : {"KERNELS", "SUBSYSTEMS", "DRIVERS", "ATTRS"}) {
        if (name.rfind(p, 0) == 0) {
            return true;
        }
    }
    return false;
}

std::string singularOf(const std::string& name) {
    for (const std::string p : {"KERNELS", "SUBSYSTEMS", "DRIVERS", "ATTRS"}) {
        if (name.rfind(p, 0) == 0) {
            return p.substr(0, p.size() - 1) + name.substr(p.size());
        }
    }
    return name;
}

// Tags the rules add to the device at the start of the chain.
std::set<std::string> tagsFor(const std::vector<Rule>& rules, const std::vector<Device>& chain) {
    std::set<std::string> tags;
    for (const Rule& rule : rules) {
        bool ok = !chain.empty();
        std::vector<const Key*> parentKeys;
        for (const Key& k : rule) {
            if (k.op != "==" && k.op != "!=") {
                continue;
            }
            if (isParentKey(k.name)) {
                parentKeys.push_back(&k);
            } else if (ok) {
                ok = keyMatches(k, chain.front(), k.name);
            }
        }
        // All parent keys must match on one and the same device of the chain.
        if (ok && !parentKeys.empty()) {
            bool any = false;
            for (const Device& d : chain) {
                bool all = true;
                for (const Key* k : parentKeys) {
                    all = all && keyMatches(*k, d, singularOf(k->name));
                }
                any = any || all;
            }
            ok = any;
        }
        if (!ok) {
            continue;
        }
        for (const Key& k : rule) {
            if (k.name == "TAG" && (k.op == "+=" || k.op == "=")) {
                tags.insert(k.value);
            }
        }
    }
    return tags;
}

const std::string kData = QX_INSTALL_TEST_DATA;
const std::string kRule = QX_UDEV_RULE;

TEST(UdevRule, TagsOnlyTheUnitsHidrawNode) {
    const std::vector<Rule> rules = parseRules(readFile(kRule));
    ASSERT_EQ(rules.size(), 1u);
    struct Case {
        const char* walk;
        bool tagged;
    };
    const Case cases[] = {
        {"unit-normal.txt", true},      {"unit-boot.txt", true},
        {"maker-lowercase.txt", false}, {"maker-trailing-space.txt", false},
        {"other-device.txt", false},    {"unit-hid-parent.txt", false},
    };
    for (const Case& c : cases) {
        const auto chain = parseWalk(readFile(kData + "/" + c.walk));
        ASSERT_GE(chain.size(), 3u) << c.walk;
        EXPECT_EQ(tagsFor(rules, chain).count("uaccess") == 1, c.tagged) << c.walk;
    }
}

TEST(UdevRule, SortsBeforeTheSeatRulesThatApplyUaccess) {
    const std::string name = kRule.substr(kRule.find_last_of('/') + 1);
    EXPECT_LT(name, std::string("73-seat-late.rules"));
    EXPECT_EQ(name.substr(name.size() - 6), ".rules");
}

} // namespace
